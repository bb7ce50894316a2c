"""The authentication framework's flow over one connection (claim, enrol,
stop, release; claim, verify, stop, release) gives exactly the replies,
signals and log lines it has always given: the record below was taken from
the service before claims belonged to a connection, and taken again when the
generated fingers changed; only the lines a finger decides (which touches
merge, indexes, scores, the number of touches) differed."""
import os
import re
from pathlib import Path

import pytest

from enrol_session import Session, generate_fingers, have_fpgen
from simsensor import PRODUCT_PLAIN

pytestmark = pytest.mark.skipif(not have_fpgen(), reason="fpgen is not built")

ENROL_TOUCHES = 10
# A generated finger whose first touch after enrolment is not recognised and
# whose second is: the flow then shows both answers.
FINGER = 1


def normalised_log(text, workdir):
    """The log lines from the first Claim on, without their time stamps.
    What differs from run to run is replaced by a placeholder (dates, the test's
    directory, unique bus names, waiting times) or left out: a read that timed
    out before a slow touch, the directories above the test's own, and the
    worker's last line, which may come just before or just after the next call.
    EnrollRetry lines are left out too: they are new, for touches not taken."""
    lines = []
    for line in text.splitlines():
        line = re.sub(r"^\[\d\d:\d\d:\d\d\]", "", line).replace(str(workdir), "WORK")
        line = re.sub(r"^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d$", "DATE", line)
        line = re.sub(r":1\.\d+", ":1.N", line)
        line = re.sub(r"^(<<vkStop(Enroll|Verify)) \d+", r"\1 MS", line)
        if re.match(r"^((enroll|verf) loop \d+|(enroll|verify) thread exit .*|EnrollRetry .*)$", line):
            continue
        if line.startswith("dir_name = ") and not line.startswith("dir_name = WORK"):
            continue
        lines.append(re.sub(r" i=\d+ ", " i=LEN ", line))
    first = next(i for i, line in enumerate(lines) if line.startswith("msg ") and line.endswith(" Claim"))
    return [line for line in lines[first:] if line]


@pytest.fixture(scope="module")
def fingers(tmp_path_factory):
    return generate_fingers(tmp_path_factory.mktemp("fingers"), (FINGER,), ENROL_TOUCHES + 6, (PRODUCT_PLAIN,))[FINGER][
        PRODUCT_PLAIN]


def test_one_connection_enrol_and_verify_as_always(simbus, harness, fingers):
    s = Session(simbus, harness, PRODUCT_PLAIN)
    fprint = s.client.fprint
    assert s.enrol("1000", "thumb", fingers[:ENROL_TOUCHES + 2]) == ("1000", 0, {})
    replies = [fprint.StopEnroll(), fprint.Claim("1000", False), fprint.Claim("1000", True)]
    assert s.verify(fingers[ENROL_TOUCHES + 2:]) == ("1000", 0, {})
    replies += [fprint.StopVerify(), fprint.Claim("1000", False)]
    assert replies == [None] * 5

    # The framework listens to these two; EnrollRetry is new (a touch not taken).
    signals = [(member, str(args[0]), int(args[1]), str(args[2])) for member, args in s.client.signals
               if member in ("EnrollStatus", "VerifyStatus")]
    assert signals == [("EnrollStatus", "1000", 2, '{"progress":%d}' % p) for p in range(10, 100, 10)] + [
        ("EnrollStatus", "1000", 0, ""), ("VerifyStatus", "", 3, '{"subcode":5}'), ("VerifyStatus", "1000", 0, "")]

    # A worker's last line may come after the release on a busy machine.
    text = s.service.wait_log(lambda text: text.count("handle_claim") >= 4 and "Released Interface" in
                              text.rpartition("handle_claim")[2] and text.count("thread exit") >= 2)
    assert text.count("thread exit 0") == 2
    log = normalised_log(text, s.service.store_root.parent)
    if os.environ.get("VEKO_RECORD_FLOW"):
        RECORD.write_text("\n".join(log) + "\n")
    assert log == RECORD.read_text().splitlines()


RECORD = Path(__file__).with_name("framework_flow.log")
