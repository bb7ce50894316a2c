"""Enrolment and verification end to end: the real service, its real libusb
and a simulated sensor fed with generated fingers, for the three models."""
import time

import pytest

from enrol_session import OTHER, OWNER, Session, generate_fingers, have_fpgen
from simsensor import PRODUCT_12BIT, PRODUCT_PLAIN, PRODUCT_SPLIT

ENROL_CAPTURES = 16
PROBE_CAPTURES = 8

pytestmark = pytest.mark.skipif(not have_fpgen(), reason="fpgen is not built")


@pytest.fixture(scope="module")
def fingers(tmp_path_factory):
    """Raw impressions of two generated fingers for every model: {seed: {product: [bytes]}}."""
    return generate_fingers(tmp_path_factory.mktemp("fingers"), (OWNER, OTHER), ENROL_CAPTURES + PROBE_CAPTURES)


@pytest.mark.parametrize("product", [PRODUCT_12BIT, PRODUCT_SPLIT, PRODUCT_PLAIN])
def test_enrol_then_verify_the_owner_and_refuse_an_impostor(simbus, harness, fingers, product):
    s = Session(simbus, harness, product)
    owner, impostor = fingers[OWNER][product], fingers[OTHER][product]

    result = s.enrol("alice", "thumb", owner[:ENROL_CAPTURES])
    assert result == ("alice", 0, {}), s.statuses("EnrollStatus")
    progress = [p["progress"] for _, code, p in s.statuses("EnrollStatus") if code == 2]
    assert progress == list(range(10, 100, 10))
    stored = s.service.store_root / "alice" / "thumb.Data"
    assert stored.stat().st_size == 28000
    before = stored.read_bytes()

    # The owner matches (the first captures may be weak ones) and the file is renewed in place.
    result = s.verify(owner[ENROL_CAPTURES:])
    assert result == ("alice", 0, {}), s.statuses("VerifyStatus")
    assert stored.stat().st_size == 28000
    assert stored.read_bytes() != before

    # Another finger never matches: every capture is answered with "no match" and capturing goes on.
    s.client.signals.clear()
    s.client.fprint.Verify("")
    for answered, image in enumerate(impostor[:3]):
        s.touch(image)
        assert s.wait_status("VerifyStatus", lambda st: True, since=answered)
    assert all(code == 3 for _, code, _ in s.statuses("VerifyStatus"))
    s.client.fprint.StopVerify()
    assert s.wait_status("VerifyStatus", lambda st: st[1] == 2) == ("", 2, {"subcode": 1})


def test_refusals_before_capturing(simbus, harness, fingers):
    s = Session(simbus, harness, PRODUCT_PLAIN)
    user = s.service.store_root / "bob"
    user.mkdir()
    for i in range(9):
        (user / f"f{i}.Data").write_bytes(bytes(28000))
    # An existing name is refused; with nine fingers a tenth may be enrolled.
    s.client.fprint.Enroll("bob", "f0")
    assert s.wait_status("EnrollStatus", lambda st: True) == ("bob", 1, {"subcode": 2})
    s.client.fprint.Enroll("bob", "f9")
    time.sleep(0.2)
    s.client.fprint.StopEnroll()
    assert s.wait_status("EnrollStatus", lambda st: st[2] == {"subcode": 3}) == ("bob", 1, {"subcode": 3})
    assert not (user / "f9.Data").exists()
    (user / "f9.Data").write_bytes(bytes(28000))
    s.client.signals.clear()
    s.client.fprint.Enroll("bob", "f10")
    assert s.wait_status("EnrollStatus", lambda st: True) == ("bob", 1, {"subcode": 4})


def test_verify_without_stored_fingers_ends_after_the_first_capture(simbus, harness, fingers):
    s = Session(simbus, harness, PRODUCT_PLAIN)
    s.client.fprint.Verify("any")
    s.touch(fingers[OWNER][PRODUCT_PLAIN][0])
    assert s.wait_status("VerifyStatus", lambda st: True) == ("", 2, {"subcode": 1})


def test_stop_while_waiting_ends_within_a_second_and_writes_nothing(simbus, harness, fingers):
    s = Session(simbus, harness, PRODUCT_12BIT)
    s.client.fprint.Enroll("carol", "index")
    assert s.sensor.wait_for(lambda st: st.pending)
    started = time.monotonic()
    s.client.fprint.StopEnroll()
    assert time.monotonic() - started < 1.5
    assert s.wait_status("EnrollStatus", lambda st: True) == ("carol", 1, {"subcode": 3})
    assert not (s.service.store_root / "carol").exists()

    s.client.fprint.Verify("")
    assert s.sensor.wait_for(lambda st: st.pending)
    started = time.monotonic()
    s.client.fprint.StopVerify()
    assert time.monotonic() - started < 1.5
    assert s.wait_status("VerifyStatus", lambda st: True) == ("", 2, {"subcode": 1})


def test_verify_during_an_enrolment_stops_the_enrolment_first(simbus, harness, fingers):
    s = Session(simbus, harness, PRODUCT_SPLIT)
    s.client.fprint.Enroll("dave", "thumb")
    assert s.sensor.wait_for(lambda st: st.pending)
    s.client.fprint.Verify("")
    assert s.wait_status("EnrollStatus", lambda st: True) == ("dave", 1, {"subcode": 3})
    # The stop signal comes just before the worker's last line, which the log writes a moment later.
    assert s.service.wait_log(lambda text: "enroll thread exit" in text).count("enroll thread exit") == 1
    s.client.fprint.StopVerify()
    assert s.wait_status("VerifyStatus", lambda st: True) == ("", 2, {"subcode": 1})
