"""A sensor that comes and goes while the service runs: plugged in after the
start, unplugged and plugged back, gone for a while and back with a new device
address as after a resume from suspend, and pulled out during a capture.

The uevents reach the service's libusb only when this process runs under
umockdev's preload: ctest runs this suite under umockdev-wrapper."""
import shutil
import time

import dbus
import pytest

import bus_contract
from enrol_session import OWNER, enrolled_store, have_fpgen
from simsensor import CMD_ENROLL, CMD_VERIFY, PRODUCT_PLAIN, SimBus

pytestmark = [pytest.mark.skipif(not SimBus.can_announce(), reason="needs umockdev-wrapper (run it through ctest)"),
              pytest.mark.skipif(not have_fpgen(), reason="fpgen is not built")]

ANSWER, VERIFY = bus_contract.answer, bus_contract.verify
FAILED = ANSWER.ERROR_FAILED
ENROL_TOUCHES = 12


@pytest.fixture(scope="module")
def enrolled(tmp_path_factory):
    """A store with alice's finger, and further impressions of it."""
    store, probes = enrolled_store(tmp_path_factory, {"alice": OWNER}, ENROL_TOUCHES, 8)
    return store, probes[OWNER]


class Rig:
    """The service on a simulated bus, with alice's finger, and a claimed client."""

    def __init__(self, simbus, harness, store, probes):
        self.simbus, self.probes = simbus, probes
        self.service = harness.start_service(extra_env=simbus.env())
        shutil.copytree(store, self.service.store_root, dirs_exist_ok=True)
        self.client = harness.client()
        self.client.fprint.Claim("alice", True)

    def start(self, method, *args):
        """Calls Verify or Enroll once the service's libusb has taken in the
        uevent of a sensor just plugged in (its own thread does, a moment later)."""
        deadline = time.monotonic() + 3
        while True:
            try:
                return getattr(self.client.fprint, method)(*args)
            except dbus.DBusException as refused:
                absent = refused.get_dbus_message() in (ANSWER.NO_DEVICE, ANSWER.OPEN_DEVICE_FAIL)
                if not absent or time.monotonic() > deadline:
                    raise
                time.sleep(0.05)

    def statuses(self):
        self.client.wait_for_signals(len(self.client.signals) + 1, timeout=0.05)
        return [(str(a[0]), int(a[1])) for m, a in self.client.signals if m == "VerifyStatus"]

    def verify_on(self, sensor):
        """Verify, touching `sensor` until a result other than "no match": the result."""
        self.client.signals.clear()
        self.start("Verify", "")
        for image in self.probes:
            assert sensor.wait_for(lambda s: s.capturing == CMD_VERIFY), "no capture started"
            count, sent = len(self.statuses()), sensor.images_sent
            sensor.place_finger(image)
            assert sensor.wait_for(lambda s: s.images_sent > sent)
            sensor.lift_finger()
            deadline = time.monotonic() + 3
            while len(self.statuses()) == count and time.monotonic() < deadline:
                pass
            if self.statuses()[-1][1] != VERIFY.NO_MATCH:
                break
        return self.statuses()[-1]


@pytest.fixture
def rig(simbus, harness, enrolled):
    return lambda: Rig(simbus, harness, *enrolled)


def test_a_sensor_plugged_in_after_the_start_is_found_by_the_next_call(simbus, rig):
    r = rig()
    for method, args, text in ((r.client.fprint.Verify, ("",), ANSWER.NO_DEVICE),
                               (r.client.fprint.Enroll, ("bob", "thumb"), ANSWER.OPEN_DEVICE_FAIL)):
        with pytest.raises(dbus.DBusException) as refused:
            method(*args)
        assert (refused.value.get_dbus_name(), refused.value.get_dbus_message()) == (FAILED, text)
    sensor = simbus.add(PRODUCT_PLAIN, announce=True)
    r.start("Enroll", "bob", "thumb")
    assert sensor.wait_for(lambda s: s.capturing == CMD_ENROLL)
    r.client.fprint.StopEnroll()
    assert r.verify_on(sensor) == ("alice", VERIFY.MATCH)


def test_unplugged_and_plugged_back_with_a_new_address_without_a_restart(simbus, rig):
    first = simbus.add(PRODUCT_PLAIN)
    r = rig()
    assert r.verify_on(first) == ("alice", VERIFY.MATCH)
    simbus.remove(first)
    with pytest.raises(dbus.DBusException) as refused:
        r.client.fprint.Verify("")
    assert refused.value.get_dbus_message() == ANSWER.NO_DEVICE
    again = simbus.add(PRODUCT_PLAIN, port=first.port, announce=True)
    assert again.node != first.node
    assert r.verify_on(again) == ("alice", VERIFY.MATCH)
    assert r.service.proc.poll() is None


def test_a_suspend_during_an_idle_claim_leaves_the_next_verification_working(simbus, rig):
    """The sensor is open (a verification has ended, the claim is held) when
    it vanishes for a few seconds and comes back with a new address."""
    before = simbus.add(PRODUCT_PLAIN)
    r = rig()
    assert r.verify_on(before) == ("alice", VERIFY.MATCH)
    simbus.remove(before)
    time.sleep(2)
    after = simbus.add(PRODUCT_PLAIN, port=before.port, announce=True)
    assert r.verify_on(after) == ("alice", VERIFY.MATCH)
    assert r.client.get("State") == 2


def test_a_capture_running_when_the_sensor_goes_ends_with_code_4_and_the_next_one_works(simbus, rig):
    sensor = simbus.add(PRODUCT_PLAIN)
    r = rig()
    r.client.fprint.Verify("")
    assert sensor.wait_for(lambda s: s.capturing == CMD_VERIFY)
    simbus.remove(sensor)
    deadline = time.monotonic() + 5
    while not r.statuses() and time.monotonic() < deadline:
        pass
    assert r.statuses() == [("", VERIFY.SENSOR_FAILED)]
    back = simbus.add(PRODUCT_PLAIN, port=sensor.port, announce=True)
    assert r.verify_on(back) == ("alice", VERIFY.MATCH)
