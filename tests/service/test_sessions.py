"""Several programs on one sensor: the claim belongs to the connection that
made it, other connections are refused and cannot end the holder's session,
and a holder that leaves the bus without releasing ends its own session."""
import shutil
import signal
import subprocess
import time

import dbus
import pytest

import bus_contract
from enrol_session import OWNER, Session, enrolled_store, have_fpgen
from simsensor import CMD_ENROLL, CMD_VERIFY, PRODUCT_PLAIN

pytestmark = pytest.mark.skipif(not have_fpgen(), reason="fpgen is not built")

FAILED = bus_contract.answer.ERROR_FAILED
ENROL_TOUCHES = 12


def refusal(method, *args):
    with pytest.raises(dbus.DBusException) as caught:
        method(*args, timeout=5)
    return caught.value.get_dbus_name(), caught.value.get_dbus_message()


@pytest.fixture(scope="module")
def enrolled(tmp_path_factory):
    """A store with alice's finger 3, and further impressions of it."""
    store, probes = enrolled_store(tmp_path_factory, {"alice": OWNER}, ENROL_TOUCHES, 8)
    return store, probes[OWNER]


@pytest.fixture
def session(simbus, harness, enrolled):
    """The holder: a claimed session on a service with alice's finger."""
    s = Session(simbus, harness, PRODUCT_PLAIN)
    shutil.copytree(enrolled[0], s.service.store_root, dirs_exist_ok=True)
    return s


def test_another_connection_is_refused_and_cannot_end_the_holders_verification(harness, session, enrolled):
    other = harness.client().fprint
    assert refusal(other.Claim, "bob", True) == (FAILED, bus_contract.answer.DEVICE_BUSY)
    session.client.fprint.Verify("")
    assert session.sensor.wait_for(lambda s: s.capturing == CMD_VERIFY)
    for method, args in ((other.Enroll, ("bob", "thumb")), (other.Verify, ("",)), (other.StopEnroll, ()),
                         (other.StopVerify, ()), (other.Claim, ("bob", False))):
        assert refusal(method, *args) == (FAILED, bus_contract.answer.NOT_CLAIMED), method
    assert session.client.get("State") == 2
    assert "claimed by :" in session.service.wait_log(lambda log: "refused" in log)

    # The holder's verification goes on and matches a later touch.
    for image in enrolled[1]:
        session.touch(image)
        status = session.wait_status("VerifyStatus", lambda st: st[1] != bus_contract.verify.NO_MATCH, timeout=0.5)
        if status:
            break
    assert status == ("alice", 0, {}) and {st[1] for st in session.statuses("VerifyStatus")} <= {0, 3}

    # Released, the device is anybody's again.
    session.client.fprint.Claim("alice", False)
    other.Claim("bob", True)
    assert harness.client().get("State") == 2


def test_the_holder_may_claim_again_and_release_with_any_id(session, harness):
    session.client.fprint.Claim("someone-else", True)
    session.client.fprint.Claim("another-id", False)
    harness.client().fprint.Claim("bob", True)


HOLDER = """
import sys, dbus
bus = dbus.bus.BusConnection(sys.argv[1])
fprint = dbus.Interface(bus.get_object("com.vekoid.fprint", "/com/vekoid", introspect=False), "com.vekoid.fprint")
fprint.Claim("carol", True)
if sys.argv[2] == "enrol":
    fprint.Enroll("carol", "thumb")
else:
    fprint.Verify("")
print("started", flush=True)
sys.stdin.read()
"""


@pytest.mark.parametrize("what, command", [("verify", CMD_VERIFY), ("enrol", CMD_ENROLL)])
def test_a_holder_killed_mid_session_releases_the_device_within_a_second(simbus, harness, enrolled, what, command):
    sensor = simbus.add(PRODUCT_PLAIN)
    service = harness.start_service(extra_env=simbus.env())
    shutil.copytree(enrolled[0], service.store_root, dirs_exist_ok=True)
    holder = subprocess.Popen(["/usr/bin/python3", "-c", HOLDER, harness.bus.address, what],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        assert holder.stdout.readline().strip() == "started"
        assert sensor.wait_for(lambda s: s.capturing == command)
        watcher = harness.client()
        assert watcher.get("State") == 2
        holder.send_signal(signal.SIGKILL)
        holder.wait(5)
        killed = time.monotonic()
        while watcher.get("State") != 1 and time.monotonic() - killed < 3:
            time.sleep(0.02)
        assert time.monotonic() - killed < 1.0
    finally:
        holder.kill()
        holder.wait()
    # No capture is started after the release, and a touch is nobody's.
    commands = len(sensor.commands())
    sensor.place_finger(enrolled[1][0])
    time.sleep(1.5)
    assert [c for c in sensor.commands()[commands:] if c in (CMD_ENROLL, CMD_VERIFY)] == []
    assert sensor.images_sent == 0
    log = service.wait_log(lambda text: "thread exit" in text.partition("left the bus")[2])
    assert "claim holder :" in log and "carol/thumb" not in log
    assert not (service.store_root / "carol").exists()
    harness.client().fprint.Claim("dave", True)


def test_a_holder_gone_before_its_claim_was_watched_is_released(harness, service):
    """The claim's sender leaves at once after the call: the service must
    still notice, though the bus may have reported it before the service
    asked to be told."""
    for _ in range(5):
        connection = dbus.bus.BusConnection(harness.bus.address)
        message = dbus.lowlevel.MethodCallMessage("com.vekoid.fprint", "/com/vekoid", "com.vekoid.fprint", "Claim")
        message.append("erin", True, signature="sb")
        connection.send_message(message)
        connection.flush()
        connection.close()
        client = harness.client()
        deadline = time.monotonic() + 1.0
        while client.get("State") != 1 and time.monotonic() < deadline:
            time.sleep(0.02)
        assert client.get("State") == 1
