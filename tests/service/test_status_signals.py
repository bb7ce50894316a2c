"""EnrollStatus and VerifyStatus as the client receives them: arguments (s, i, s)
for every (type, arg) pair the workers send, sent from a thread other than the
one that opened the connection."""
import os
import subprocess

import dbus
import pytest

ENROLL_ROWS = [
    # (type, arg) -> (code, payload); the id is always the enrolling user's
    ((0, 0), (0, "")),
    ((1, 4), (1, '{"subcode":4}')),
    ((1, 2), (1, '{"subcode":2}')),
    ((1, 3), (1, '{"subcode":3}')),
    ((1, 0), (1, '{"subcode":3}')),
    ((2, 1), (2, '{"progress":10}')),
    ((2, 9), (2, '{"progress":90}')),
    ((2, 10), (2, '{"progress":100}')),
    ((2, 4294967295), (2, '{"progress":100}')),
    ((4, 0), (4, "")),
]

VERIFY_ROWS = [
    # (type, arg) -> (id sent, code, payload)
    ((0, 0), ("1000", 0, "")),
    ((2, 0), ("", 2, '{"subcode":1}')),
    ((3, 0), ("", 3, '{"subcode":3}')),
    ((3, 1), ("", 3, '{"subcode":5}')),
    ((3, 45), ("", 3, '{"subcode":5}')),
    ((4, 0), ("", 4, "")),
]


def send(harness, *signals):
    sender = os.environ.get("VEKO_SIGNAL_SENDER")
    if not sender:
        pytest.fail("VEKO_SIGNAL_SENDER must name the signal sender helper")
    args = [str(part) for signal in signals for part in signal]
    env = {**os.environ, "DBUS_SYSTEM_BUS_ADDRESS": harness.bus.address}
    result = subprocess.run([sender, *args], env=env, capture_output=True, text=True, timeout=30, check=True)
    return [int(line) for line in result.stdout.split()]


def received(harness, signals):
    client = harness.client()
    client.connection.list_names()  # the match rule is in place once this returns
    assert send(harness, *signals) == [-1] * len(signals)
    got = client.wait_for_signals(len(signals))
    assert len(got) == len(signals)
    return got


def test_enroll_status_rows(harness):
    signals = [("enroll", "1000", t, a) for (t, a), _ in ENROLL_ROWS]
    got = received(harness, signals)
    for ((t, a), (code, payload)), (member, args) in zip(ENROLL_ROWS, got):
        assert member == "EnrollStatus"
        assert args == ("1000", code, payload), (t, a)


def test_verify_status_rows_name_the_user_only_on_a_match(harness):
    signals = [("verify", "1000", t, a) for (t, a), _ in VERIFY_ROWS]
    got = received(harness, signals)
    for ((t, a), expected), (member, args) in zip(VERIFY_ROWS, got):
        assert member == "VerifyStatus"
        assert args == expected, (t, a)


def test_signal_arguments_are_string_int32_string(harness):
    (_, args), = received(harness, [("enroll", "1000", 2, 3)])
    assert isinstance(args[0], dbus.String)
    assert isinstance(args[1], dbus.Int32)
    assert isinstance(args[2], dbus.String)
