"""The finger store under attack from bad names and crashes: refused names
touch nothing on disk, a rename never overwrites another finger, and a service
killed while it rewrites finger files leaves every file whole."""
import os
import random
import time

import dbus
import pytest

import bus_contract
from enrol_session import LIBRARY, OWNER, TEMPLATE_SIZE, Library, Session, generate_fingers, have_fpgen
from simsensor import CMD_ENROLL, CMD_VERIFY, PRODUCT_PLAIN

FAILED = bus_contract.answer.ERROR_FAILED
BAD_NAMES = ["", "a" * 59, ".", "..", ".x", "a/b", "../x", "/abs", "tab\there", "new\nline", "\x01", "del\x7f"]


def call_error(method, *args):
    with pytest.raises(dbus.DBusException) as info:
        method(*args)
    return info.value.get_dbus_name(), info.value.get_dbus_message()


def tree(root):
    """Every path under root with its size and content, except the service's own log files."""
    found = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            if name in ("service.log", "stdout.txt"):
                continue
            found[os.path.relpath(path, root)] = None if os.path.isdir(path) else open(path, "rb").read()
    return found


def test_refused_names_touch_nothing_and_start_no_capture(simbus, harness, tmp_path):
    s = Session(simbus, harness, PRODUCT_PLAIN)
    store = s.service.store_root
    # Victims a bad name could reach: a user, a finger file beside the store and one above it.
    (store / "u").mkdir()
    (store / "u" / "thumb.Data").write_bytes(b"u-thumb")
    (tmp_path / "x").mkdir()
    (tmp_path / "x" / "thumb.Data").write_bytes(b"outside")
    (tmp_path / "x.Data").write_bytes(b"outside")
    (tmp_path / "thumb.Data").write_bytes(b"outside")
    before = tree(tmp_path)
    f = s.client.fprint
    for bad in BAD_NAMES:
        calls = [(f.Enroll, (bad, "thumb"), "Enroll fail."), (f.Enroll, ("u", bad), "Enroll fail."),
                 (f.DeleteFinger, (bad, "thumb"), "DeleteFinger fail."),
                 (f.DeleteFinger, ("u", bad), "DeleteFinger fail."),
                 (f.DeleteAllFingers, (bad,), "DeleteAllFingers fail."),
                 (f.ListFingers, (bad,), "ListFingers fail."),
                 (f.RenameFinger, (bad, "thumb", "index"), "RenameFinger fail."),
                 (f.RenameFinger, ("u", bad, "index"), "RenameFinger fail."),
                 (f.RenameFinger, ("u", "thumb", bad), "RenameFinger fail.")]
        if bad:  # an empty filter means every finger
            calls.append((f.Verify, (bad,), "Verify fail."))
        for method, args, text in calls:
            assert call_error(method, *args) == (FAILED, text), (method, args)
    assert tree(tmp_path) == before
    assert not {CMD_ENROLL, CMD_VERIFY} & set(s.sensor.commands())
    assert s.statuses("EnrollStatus") == [] and s.statuses("VerifyStatus") == []
    # The longest allowed names work.
    f.RenameFinger("u", "thumb", "n" * 58)
    assert list(f.ListFingers("u")) == ["n" * 58]


def test_rename_onto_an_existing_finger_is_refused_and_keeps_both(client, service):
    user = service.store_root / "1000"
    user.mkdir()
    (user / "thumb.Data").write_bytes(b"thumb")
    (user / "index.Data").write_bytes(b"index")
    assert call_error(client.fprint.RenameFinger, "1000", "thumb", "index") == (FAILED, "RenameFinger fail.")
    assert (user / "thumb.Data").read_bytes() == b"thumb"
    assert (user / "index.Data").read_bytes() == b"index"
    client.fprint.RenameFinger("1000", "thumb", "middle")
    assert sorted(client.fprint.ListFingers("1000")) == ["index", "middle"]


def test_ten_fingers_with_the_longest_names_list_whole(client, service):
    user = service.store_root / "1000"
    user.mkdir()
    names = sorted(chr(ord("a") + i) * 58 for i in range(10))
    for name in names:
        (user / f"{name}.Data").write_bytes(bytes(TEMPLATE_SIZE))
    assert sorted(client.fprint.ListFingers("1000")) == names


ROUNDS = 16
VERIFICATIONS_PER_ROUND = 3
KILL_WINDOW_S = 0.006


def wait_for_log(service, text, offset, timeout=1.0):
    """Polls the service log after `offset` until `text` appears."""
    deadline = time.monotonic() + timeout
    with open(service.log_path, "rb") as log:
        log.seek(offset)
        seen = b""
        while text.encode() not in seen and time.monotonic() < deadline:
            seen += log.read()
            time.sleep(0.0005)
FINGERS = ("f0", "f1", "f2", "f3")


@pytest.mark.skipif(not have_fpgen() or not LIBRARY.exists(), reason="fpgen or the library is not built")
def test_killed_during_renewals_every_finger_file_stays_whole(simbus, harness, tmp_path):
    (tmp_path / "fingers").mkdir()
    images = generate_fingers(tmp_path / "fingers", (OWNER,), 24, products=(PRODUCT_PLAIN,))[OWNER][PRODUCT_PLAIN]
    s = Session(simbus, harness, PRODUCT_PLAIN)
    assert s.enrol("gina", FINGERS[0], images[:16]) == ("gina", 0, {})
    user = s.service.store_root / "gina"
    enrolled = (user / f"{FINGERS[0]}.Data").read_bytes()
    for name in FINGERS[1:]:
        (user / f"{name}.Data").write_bytes(enrolled)
    s.service.proc.kill()
    s.service.proc.wait(5)
    s.sensor.host_gone()
    probes = images[16:]

    rng = random.Random(7)
    renewals = 0
    for round_ in range(ROUNDS):
        service = harness.start_service(extra_env=simbus.env())
        client = harness.client()
        client.fprint.Claim("1000", True)
        for i in range(VERIFICATIONS_PER_ROUND):
            n = round_ * VERIFICATIONS_PER_ROUND + i
            client.signals.clear()
            log_offset = service.log_path.stat().st_size
            client.fprint.Verify(FINGERS[n % len(FINGERS)])
            sent = s.sensor.images_sent
            s.sensor.place_finger(probes[n % len(probes)])
            assert s.sensor.wait_for(lambda st: st.images_sent > sent, 2)
            s.sensor.lift_finger()
            if i == VERIFICATIONS_PER_ROUND - 1:
                # The last one is killed just after its match was scored, while
                # the matched file is renewed and rewritten.
                wait_for_log(service, "matchUpdate score:", log_offset)
                time.sleep(rng.uniform(0, KILL_WINDOW_S))
                service.proc.kill()
                break
            client.wait_for_signals(1, timeout=2)
            code = client.signals[0][1][1] if client.signals else None
            if code == 0:
                renewals += 1
            elif code == 3:
                client.fprint.StopVerify()
                client.wait_for_signals(2, timeout=2)
        service.proc.wait(5)
        s.sensor.host_gone()

    assert renewals >= ROUNDS
    # The next successful renewal clears what the killed writes left behind.
    final = Session(simbus, harness, PRODUCT_PLAIN, sensor=s.sensor)
    assert final.verify(probes) == ("gina", 0, {})
    assert [p.name for p in user.iterdir() if p.name.startswith(".")] == []
    lib = Library()
    for name in FINGERS:
        data = (user / f"{name}.Data").read_bytes()
        assert len(data) == TEMPLATE_SIZE and lib.is_whole(PRODUCT_PLAIN, data), name
    assert sorted(p.name for p in user.iterdir() if not p.name.startswith(".")) == [f"{n}.Data" for n in FINGERS]
