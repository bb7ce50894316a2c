"""Enrolment and verification end to end, the harder cases: touches not taken,
a sensor pulled out during a capture, and a weak score from another user's
finger before the owner's."""
import ctypes
import os
import re
import shutil
import time

import pytest

from enrol_session import (ACCEPT_SCORE, LIBRARY, OTHER, OWNER, TEMPLATE_SIZE, Library, Session, generate_fingers,
                           have_fpgen)
from simsensor import PRODUCT_12BIT, PRODUCT_PLAIN, PRODUCT_SPLIT

IMPRESSIONS = 24
PLAIN_WIDTH, PLAIN_HEIGHT = 112, 88

pytestmark = pytest.mark.skipif(not have_fpgen(), reason="fpgen is not built")


@pytest.fixture(scope="module")
def fingers(tmp_path_factory):
    return generate_fingers(tmp_path_factory.mktemp("fingers"), (OWNER, OTHER), IMPRESSIONS)


def touch_processed(s, image, timeout=5.0):
    """Touches and waits until the service is done with the capture: it asks for
    the next one or its worker has ended; then takes in the signals sent."""
    exits = s.service.log().count("enroll thread exit")
    s.touch(image)
    assert s.sensor.wait_for(lambda st: st.capturing is not None or
                             s.service.log().count("enroll thread exit") > exits, timeout)
    s.client.wait_for_signals(len(s.client.signals) + 1, timeout=0.05)


def progress(s):
    return [p["progress"] for _, code, p in s.statuses("EnrollStatus") if code == 2]


def last_merge_result(s):
    results = re.findall(r"1----ret = (-?\d+)", s.service.log())
    return int(results[-1]) if results else None


NO_OVERLAP = ("erin", 2, {"reason": "no-overlap"})
UNUSABLE = ("erin", 1, {"reason": "unusable"})


def test_touches_not_taken_repeat_the_stage_and_say_why(simbus, harness, fingers):
    s = Session(simbus, harness, PRODUCT_PLAIN)
    # The same image again always merges; images of two fingers never do.
    first, second = fingers[OWNER][PRODUCT_PLAIN][0], fingers[OTHER][PRODUCT_PLAIN][0]
    s.client.fprint.Enroll("erin", "thumb")
    # A touch without ridges gives no template.
    touch_processed(s, bytes([0xF0]) * len(first))
    assert progress(s) == [] and s.statuses("EnrollRetry") == [UNUSABLE]
    touch_processed(s, first)
    assert progress(s) == [10]

    # Another finger at stage 2 is refused, told as such, and becomes the base,
    # so the same capture again is merged with it.
    touch_processed(s, second)
    assert progress(s) == [10] and last_merge_result(s) != 0
    assert s.statuses("EnrollRetry") == [UNUSABLE, NO_OVERLAP]
    touch_processed(s, second)
    assert progress(s) == [10, 20]
    touch_processed(s, second)
    touch_processed(s, second)
    assert progress(s) == [10, 20, 30, 40]

    # Later, a refused capture leaves the merged template and the stage as they were.
    touch_processed(s, first)
    assert progress(s) == [10, 20, 30, 40] and last_merge_result(s) != 0
    assert s.statuses("EnrollRetry") == [UNUSABLE, NO_OVERLAP, NO_OVERLAP]
    while progress(s) != list(range(10, 100, 10)):
        assert len(progress(s)) < 9
        touch_processed(s, second)
    stage5 = "CreateFingerPrintMinutiae ret=1 stage=5"
    assert s.service.wait_log(lambda text: text.count(stage5) >= 2).count(stage5) == 2
    touch_processed(s, second)
    assert s.wait_status("EnrollStatus", lambda st: st[1] != 2) == ("erin", 0, {})
    assert all(code == 2 for _, code, _ in s.statuses("EnrollStatus")[:-1])
    assert len(s.statuses("EnrollRetry")) == 3
    assert (s.service.store_root / "erin" / "thumb.Data").stat().st_size == TEMPLATE_SIZE


@pytest.mark.parametrize("method,product", [("Enroll", PRODUCT_12BIT), ("Verify", PRODUCT_SPLIT)])
def test_unplug_during_a_capture_ends_with_code_4(simbus, harness, method, product):
    s = Session(simbus, harness, product)
    (s.service.store_root / "frank").mkdir()
    (s.service.store_root / "frank" / "index.Data").write_bytes(bytes(TEMPLATE_SIZE))
    if method == "Enroll":
        s.client.fprint.Enroll("frank", "thumb")
    else:
        s.client.fprint.Verify("")
    assert s.sensor.wait_for(lambda st: st.pending)
    s.sensor.unplug()
    member = method + "Status"
    expected_id = "frank" if method == "Enroll" else ""
    assert s.wait_status(member, lambda st: True, timeout=5) == (expected_id, 4, {})
    assert len(s.statuses(member)) == 1
    # The worker has ended; the service answers and stops nothing twice.
    s.client.fprint.StopEnroll()
    s.client.fprint.StopVerify()
    assert sorted(s.client.fprint.ListFingers("frank")) == ["index"]
    assert not (s.service.store_root / "frank" / "thumb.Data").exists()
    assert s.service.proc.poll() is None
    assert len(s.statuses(member)) == 1


def plain_template(lib, image):
    """The live template the service makes of a plain-model capture."""
    templ = ctypes.create_string_buffer(TEMPLATE_SIZE)
    info = (ctypes.c_int32 * 10)()
    lib.lib.Quorvane_Init(1)
    rc = lib.lib.Quorvane_CreateTemplate(ctypes.create_string_buffer(bytes(image), len(image)), PLAIN_WIDTH,
                                         PLAIN_HEIGHT, templ, info)
    return templ.raw if rc == 1 else None


@pytest.mark.skipif(not LIBRARY.exists(), reason="the library is not built")
def test_a_weak_score_of_the_first_user_does_not_hide_the_owner(simbus, harness, fingers):
    s = Session(simbus, harness, PRODUCT_PLAIN)
    owner, other = fingers[OWNER][PRODUCT_PLAIN], fingers[OTHER][PRODUCT_PLAIN]
    assert s.enrol("enrol-a", "thumb", owner[:16]) == ("enrol-a", 0, {})
    s.client.signals.clear()
    assert s.enrol("enrol-b", "thumb", other[:16]) == ("enrol-b", 0, {})
    owner_file = (s.service.store_root / "enrol-a" / "thumb.Data").read_bytes()
    other_file = (s.service.store_root / "enrol-b" / "thumb.Data").read_bytes()

    # A probe of the owner that the other finger's template scores weakly (1..45);
    # of those, the one its own template scores highest, so that it is renewed.
    lib = Library()
    lib.lib.Quorvane_CreateTemplate.argtypes = [ctypes.c_char_p, ctypes.c_int16, ctypes.c_int16, ctypes.c_char_p,
                                                ctypes.POINTER(ctypes.c_int32)]
    lib.lib.Quorvane_CreateTemplate.restype = ctypes.c_int16
    candidates = []
    for image in owner[16:]:
        live = plain_template(lib, image)
        if live is None:
            continue
        weak, own = lib.score(PRODUCT_PLAIN, other_file, live), lib.score(PRODUCT_PLAIN, owner_file, live)
        if 0 < weak <= ACCEPT_SCORE < own:
            candidates.append((own, image))
    assert candidates, "no probe of the owner scores weakly against the other finger"
    probe = max(candidates, key=lambda candidate: candidate[0])[1]

    # Whatever order the directory lists, the other finger comes first.
    for name in ("u1", "u2"):
        (s.service.store_root / name).mkdir()
    first, second = [n for n in os.listdir(s.service.store_root) if n in ("u1", "u2")]
    (s.service.store_root / first / "thumb.Data").write_bytes(other_file)
    (s.service.store_root / second / "thumb.Data").write_bytes(owner_file)
    owner_inode = (s.service.store_root / second / "thumb.Data").stat().st_ino
    for name in ("enrol-a", "enrol-b"):
        shutil.rmtree(s.service.store_root / name)

    s.client.signals.clear()
    s.client.fprint.Verify("")
    s.touch(probe)
    assert s.wait_status("VerifyStatus", lambda st: True) == (second, 0, {})
    scores = [int(v) for v in re.findall(r"matchUpdate score:(-?\d+)", s.service.log())]
    assert 0 < scores[-2] <= ACCEPT_SCORE < scores[-1]
    assert (s.service.store_root / first / "thumb.Data").read_bytes() == other_file
    renewed = s.service.store_root / second / "thumb.Data"
    assert renewed.read_bytes() != owner_file
    # Renewal replaces the file whole instead of rewriting it in place.
    assert renewed.stat().st_ino != owner_inode and renewed.stat().st_mode & 0o777 == 0o600
