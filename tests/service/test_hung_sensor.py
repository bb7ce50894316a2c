"""A sensor that stops accepting anything right after a capture start: every
way of stopping the capture (StopVerify, StopEnroll, Claim(false)) cancels the
transfer in flight, so each reply, and a property read queued behind it,
comes within a second; the stop signal still arrives and the service goes on
answering and capturing."""
import threading
import time

import pytest

from enrol_session import Session
from simsensor import CMD_ENROLL, CMD_VERIFY, PRODUCT_PLAIN

REPLY_LIMIT_S = 1.0
STOP_SIGNAL = {"Enroll": ("EnrollStatus", 1, {"subcode": 3}), "Verify": ("VerifyStatus", 2, {"subcode": 1})}


def timed(call, *args):
    started = time.monotonic()
    call(*args, timeout=10)
    return time.monotonic() - started


def start(s, method):
    if method == "Enroll":
        s.client.fprint.Enroll("hank", "thumb")
    else:
        s.client.fprint.Verify("")


@pytest.mark.parametrize("method,stop", [("Verify", "StopVerify"), ("Enroll", "StopEnroll"),
                                         ("Verify", "Release"), ("Enroll", "Release")])
def test_stops_answer_within_a_second_when_the_sensor_hangs(simbus, harness, method, stop):
    s = Session(simbus, harness, PRODUCT_PLAIN)
    start(s, method)
    command = CMD_ENROLL if method == "Enroll" else CMD_VERIFY
    assert s.sensor.wait_for(lambda st: command in st.commands() and st.pending)
    s.sensor.hold()

    # Another caller's property read arrives while the stop is handled.
    other = harness.client()
    got = {}

    def read_state():
        time.sleep(0.05)
        got["get"] = timed(other.properties.Get, "com.vekoid.fprint", "State")

    reader = threading.Thread(target=read_state)
    reader.start()
    if stop == "Release":
        stop_took = timed(s.client.fprint.Claim, "1000", False)
    else:
        stop_took = timed(getattr(s.client.fprint, stop))
    reader.join(10)
    assert stop_took < REPLY_LIMIT_S and got["get"] < REPLY_LIMIT_S, (stop_took, got)

    member, code, payload = STOP_SIGNAL[method]
    expected_id = "hank" if method == "Enroll" else ""
    assert s.wait_status(member, lambda st: True) == (expected_id, code, payload)

    # Still hung: a new capture starts at once and is stopped as quickly.
    if stop == "Release":
        s.client.fprint.Claim("1000", True)
    s.client.signals.clear()
    assert timed(getattr(s.client.fprint, method), *(("hank", "thumb") if method == "Enroll" else ("",))) < \
        REPLY_LIMIT_S
    time.sleep(0.2)
    assert timed(getattr(s.client.fprint, "StopEnroll" if method == "Enroll" else "StopVerify")) < REPLY_LIMIT_S
    assert s.wait_status(member, lambda st: True) == (expected_id, code, payload)

    # The sensor recovers: the service captures again.
    s.sensor.hold(False)
    s.client.signals.clear()
    start(s, method)
    assert s.sensor.wait_for(lambda st: st.pending, 5)
