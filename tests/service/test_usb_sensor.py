"""The service driving simulated sensors through its real libusb: detection,
open, identity exchange, captures, and sensors that misbehave."""
import os
import re
import subprocess
import time

import dbus
import pytest

import bus_contract
from simsensor import (CMD_END, CMD_ENROLL, CMD_IDENTITY, CMD_VERIFY, PRODUCT_12BIT, PRODUCT_PLAIN,
                       PRODUCT_SPLIT, RAW_LENGTH, command)

FAILED = bus_contract.answer.ERROR_FAILED
# The line a capture worker logs when it ends.
EXIT_LINE = r"(capture|enroll|verify) thread exit"


class Rig:
    """A simulated bus and the service started on it."""

    def __init__(self, simbus, harness):
        self.simbus = simbus
        self.harness = harness
        self.service = None
        self.client = None

    def start(self):
        self.service = self.harness.start_service(extra_env=self.simbus.env())
        self.client = self.harness.client()
        return self.client

    def claimed(self):
        client = self.start()
        client.fprint.Claim("1000", True)
        return client

    def wait_log(self, pattern, timeout=5.0, count=1):
        """Waits until the log holds `count` lines matching the regex."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if len(re.findall(pattern, self.service.log())) >= count:
                return True
            time.sleep(0.02)
        return False


@pytest.fixture
def rig(simbus, harness):
    # The service (harness) is torn down before the bus it uses.
    return Rig(simbus, harness)


def call_error(method, *args):
    with pytest.raises(dbus.DBusException) as caught:
        method(*args)
    return caught.value.get_dbus_name(), caught.value.get_dbus_message()


def wait_pending_read(sensor, length=None, timeout=5.0):
    def waiting(s):
        return s.pending and (length is None or s.pending[-1].length == length)
    assert sensor.wait_for(waiting, timeout), sensor.events


def probe(simbus, *args):
    """Runs the transport's device search on the simulated bus in a process of its own."""
    path = os.environ.get("VEKO_USB_PROBE")
    if not path:
        pytest.skip("VEKO_USB_PROBE names the usb_probe tool")
    env = dict(os.environ)
    env.update(simbus.env())
    result = subprocess.run([path, *args], env=env, capture_output=True, text=True, timeout=30, check=True)
    return result.stdout.splitlines()


def test_identities_name_each_sensor_by_its_port_with_one_prefix(simbus):
    simbus.add(PRODUCT_12BIT)
    simbus.add(PRODUCT_12BIT, high_speed=True)
    simbus.add(PRODUCT_PLAIN)
    # In the bus's list order, which need not be the port order.
    lines = probe(simbus, "list", "2541", "2547")
    assert lines[0] == "count=2"
    assert sorted(lines[1:]) == ["VekoID.Usb.0x2541.0x2547.01", "VekoID.Usb.0x2541.0x2547.02"]
    assert probe(simbus, "list", "2541", "2549") == ["count=1", "VekoID.Usb.0x2541.0x2547.03"]
    assert probe(simbus, "list", "2541", "2548") == ["count=0"]
    assert probe(simbus, "detect") == ["count=1 devType=3 imgSize=9856"]


def test_a_full_identity_list_keeps_whole_names_only(simbus):
    for _ in range(10):
        simbus.add(PRODUCT_SPLIT)
    simbus.add(PRODUCT_12BIT)
    # Four identities fit the 128-byte list; the count still covers all ten.
    lines = probe(simbus, "list", "2541", "2548")
    assert lines[0] == "count=10" and len(lines) == 5
    assert set(lines[1:]) <= {f"VekoID.Usb.0x2541.0x2547.{port:02X}" for port in range(1, 11)}
    assert len(set(lines[1:])) == 4
    assert probe(simbus, "list", "2541", "2547") == ["count=1", "VekoID.Usb.0x2541.0x2547.0B"]
    assert probe(simbus, "detect") == ["count=1 devType=1 imgSize=13824"]


def test_detection_without_sensor_keeps_the_default_model(simbus):
    assert probe(simbus, "detect") == ["count=0 devType=1 imgSize=13824"]


def test_detection_takes_0x2549_beside_0x2547(rig):
    first = rig.simbus.add(PRODUCT_12BIT)
    plain = rig.simbus.add(PRODUCT_PLAIN)
    client = rig.claimed()
    client.fprint.Enroll("1000", "thumb")
    wait_pending_read(plain, 64)
    assert first.events == [], "the 0x2547 sensor must not be touched"
    assert plain.commands()[:2] == [CMD_IDENTITY, CMD_ENROLL]
    assert rig.wait_log("devNum=1")


def test_without_sensor_enroll_and_verify_fail_with_their_texts(rig):
    client = rig.claimed()
    assert call_error(client.fprint.Enroll, "1000", "thumb") == (FAILED, "OpenDevice fail.")
    assert call_error(client.fprint.Verify, "") == (FAILED, "No Device.")
    assert rig.wait_log("devNum=0")


def test_state_stays_1_and_the_count_goes_to_the_log(rig):
    rig.simbus.add(PRODUCT_SPLIT)
    rig.simbus.add(PRODUCT_SPLIT)
    client = rig.start()
    assert client.get("State") == 1
    assert rig.wait_log(r"state=1,num=2")
    client.fprint.Claim("1000", True)
    assert client.get("State") == 2
    assert rig.wait_log(r"state=2,num=0")


@pytest.mark.parametrize("high_speed, interface, ep_in, ep_out, chunk",
                         [(False, 0, 0x81, 0x01, 64), (True, 1, 0x84, 0x03, 512)], ids=["full", "high"])
def test_open_detaches_claims_and_asks_identity_by_speed(rig, high_speed, interface, ep_in, ep_out, chunk):
    sensor = rig.simbus.add(PRODUCT_12BIT, high_speed=high_speed)
    client = rig.claimed()
    client.fprint.Enroll("1000", "thumb")
    wait_pending_read(sensor, chunk)
    events = sensor.events
    # Kernel drivers leave interfaces 0 and 1, then the chosen one is claimed,
    # then the identity request is written and its 8-byte answer read.
    assert events[:5] == [("detach", 0), ("detach", 1), ("claim", interface),
                          ("out", ep_out, command(CMD_IDENTITY)), ("in", ep_in, 8)]
    assert sensor.out_endpoints() == {ep_out} and sensor.in_endpoints() == {ep_in}
    log = rig.service.log()
    assert "Kernel Driver Detached!" in log and "**claim_interface ok" in log
    assert f"wMaxPacketSize:\t   {chunk}" in log
    client.fprint.Claim("1000", False)
    assert sensor.wait_for(lambda s: ("release", interface) in s.events)


@pytest.mark.parametrize("product, high_speed", [(PRODUCT_12BIT, False), (PRODUCT_12BIT, True),
                                                 (PRODUCT_SPLIT, False), (PRODUCT_PLAIN, False)],
                         ids=["2547-full", "2547-high", "2548", "2549"])
def test_a_finger_placed_during_a_read_arrives_whole_in_two_reads(rig, raw_images, product, high_speed):
    sensor = rig.simbus.add(product, high_speed=high_speed)
    chunk = 512 if high_speed else 64
    size = RAW_LENGTH[product]
    client = rig.claimed()
    client.fprint.Verify("")
    wait_pending_read(sensor, chunk)
    placed = time.monotonic()
    sensor.place_finger(raw_images[product])
    assert rig.wait_log(r"setCapture_Image g_img_ar_set_index = 0 ")
    assert time.monotonic() - placed < 1.0
    sensor.lift_finger()
    reads = sensor.reads()
    at = reads.index(size - chunk)
    assert reads[at - 1] == chunk
    # Verify start, then the end command right after the image.
    assert sensor.wait_for(lambda s: len(s.commands()) >= 3)
    assert sensor.commands()[:3] == [CMD_IDENTITY, CMD_VERIFY, CMD_END]
    assert sensor.images_sent >= 1
    client.fprint.StopVerify()
    assert rig.wait_log(EXIT_LINE)


@pytest.mark.parametrize("method,args,start,label", [("Enroll", ("1000", "thumb"), CMD_ENROLL, "enroll"),
                                                      ("Verify", ("",), CMD_VERIFY, "verf")])
def test_a_read_without_finger_times_out_after_about_a_second(rig, method, args, start, label):
    sensor = rig.simbus.add(PRODUCT_PLAIN)
    client = rig.claimed()
    getattr(client.fprint, method)(*args)
    # Four time-outs in a row restart the capture: end command, start command.
    assert sensor.wait_for(lambda s: s.commands().count(start) >= 2, timeout=8)
    times = sensor.read_times[1:5]  # the four first-part reads after the identity read
    gaps = [b - a for a, b in zip(times, times[1:])]
    assert all(0.9 <= gap <= 1.6 for gap in gaps), gaps
    assert sensor.commands()[:4] == [CMD_IDENTITY, start, CMD_END, start]
    assert len(gaps) == 3 and sensor.reads()[1:5] == [64] * 4
    assert "rx cb time out" in rig.service.stdout()
    assert rig.wait_log(f"{label} loop 3")
    assert sensor.most_pending == 1


def thread_count(pid):
    return len(os.listdir(f"/proc/{pid}/task"))


def test_stop_interrupts_a_waiting_capture_and_leaves_no_thread(rig):
    sensor = rig.simbus.add(PRODUCT_12BIT)
    client = rig.start()
    client.get("State")  # starts libusb and its own threads
    client.fprint.Claim("1000", True)
    baseline = thread_count(rig.service.proc.pid)
    client.fprint.Enroll("1000", "thumb")
    wait_pending_read(sensor, 64)
    # The worker and one event thread for the pending read.
    assert thread_count(rig.service.proc.pid) == baseline + 2
    started = time.monotonic()
    client.fprint.StopEnroll()
    assert time.monotonic() - started < 1.5
    assert rig.wait_log(EXIT_LINE)
    # The pending read is cancelled and the capture ended; nothing is read afterwards.
    assert sensor.commands()[-2:] == [CMD_ENROLL, CMD_END]
    assert sensor.wait_for(lambda s: not s.pending, timeout=2)
    deadline = time.monotonic() + 2
    while thread_count(rig.service.proc.pid) != baseline and time.monotonic() < deadline:
        time.sleep(0.02)
    assert thread_count(rig.service.proc.pid) == baseline


def test_unplug_during_a_capture_ends_it_and_the_service_keeps_answering(rig):
    sensor = rig.simbus.add(PRODUCT_12BIT)
    client = rig.claimed()
    client.fprint.Enroll("1000", "thumb")
    wait_pending_read(sensor, 64)
    sensor.unplug()
    assert rig.wait_log(EXIT_LINE, timeout=5)
    assert re.search(r"rx cb [0-9a-f]+", rig.service.stdout())
    assert client.get("State") == 2
    client.fprint.StopEnroll()
    client.fprint.Claim("1000", False)
    assert client.get("State") == 1
    # A new enrollment cannot open the dead sensor but answers.
    client.fprint.Claim("1000", True)
    with pytest.raises(dbus.DBusException):
        client.fprint.Enroll("1000", "thumb")
    assert rig.service.proc.poll() is None


def test_release_during_a_capture_closes_without_waiting_for_the_read(rig):
    sensor = rig.simbus.add(PRODUCT_SPLIT)
    client = rig.claimed()
    client.fprint.Enroll("1000", "thumb")
    wait_pending_read(sensor, 64)
    started = time.monotonic()
    client.fprint.Claim("1000", False)
    assert time.monotonic() - started < 0.9
    assert sensor.wait_for(lambda s: ("release", 0) in s.events)
    assert rig.wait_log(EXIT_LINE)
    assert rig.wait_log("enroll block")


def test_release_cancels_a_write_the_sensor_does_not_take(rig, raw_images):
    sensor = rig.simbus.add(PRODUCT_12BIT)
    client = rig.claimed()
    client.fprint.Enroll("1000", "thumb")
    wait_pending_read(sensor, 64)
    sensor.hold()
    sensor.place_finger(raw_images[PRODUCT_12BIT])
    # After the image the next start command hangs (the end commands give up after 100 ms).
    assert sensor.wait_for(lambda s: s.pending_out and s.commands()[-1] == CMD_ENROLL, timeout=3)
    started = time.monotonic()
    client.fprint.Claim("1000", False)
    assert time.monotonic() - started < 0.9
    assert rig.wait_log(EXIT_LINE)
    assert "tx_cb failed" in rig.service.stdout()


def test_a_write_the_sensor_does_not_take_times_out_after_three_seconds(rig, raw_images):
    sensor = rig.simbus.add(PRODUCT_PLAIN)
    client = rig.claimed()
    client.fprint.Enroll("1000", "thumb")
    wait_pending_read(sensor, 64)
    sensor.hold()
    sensor.place_finger(raw_images[PRODUCT_PLAIN])
    assert sensor.wait_for(lambda s: s.pending_out and s.commands()[-1] == CMD_ENROLL, timeout=3)
    started = time.monotonic()
    assert rig.wait_log(EXIT_LINE, timeout=5)
    assert 2.7 <= time.monotonic() - started <= 3.6
    assert client.get("State") == 2


def test_a_second_enroll_replaces_the_running_capture(rig):
    sensor = rig.simbus.add(PRODUCT_12BIT)
    client = rig.claimed()
    client.fprint.Enroll("1000", "thumb")
    wait_pending_read(sensor, 64)
    client.fprint.Verify("")
    assert sensor.wait_for(lambda s: CMD_VERIFY in s.commands())
    time.sleep(1.2)
    assert sensor.most_pending == 1
    assert rig.service.log().count(" thread exit ") == 1
    client.fprint.StopVerify()
    assert rig.wait_log(EXIT_LINE, count=2)


@pytest.mark.parametrize("kind", ["short", "oversized", "garbage"])
def test_bad_images_are_never_stored_short_and_do_not_stop_the_service(rig, raw_images, kind):
    sensor = rig.simbus.add(PRODUCT_12BIT)
    image = raw_images[PRODUCT_12BIT]
    client = rig.claimed()
    client.fprint.Enroll("1000", "thumb")
    wait_pending_read(sensor, 64)
    if kind == "short":
        sensor.place_finger(image[:5000])
        # The rest read ends short: no image goes into the ring, the capture restarts.
        assert sensor.wait_for(lambda s: s.commands().count(CMD_ENROLL) >= 2, timeout=5)
        sensor.lift_finger()
        assert "setCapture_Image g_img_ar_set_index" not in rig.service.log()
    elif kind == "oversized":
        sensor.place_finger(image + bytes(3000))
        assert rig.wait_log(r"setCapture_Image g_img_ar_set_index = 0 ")
        sensor.lift_finger()
        # The surplus is dropped by the end command, not read as the next image.
        assert sensor.wait_for(lambda s: not s.outgoing, timeout=2)
    else:
        sensor.send_bytes(bytes(range(256)) * 3)
        sensor.send_bytes(b"\xEA\x01")
        assert sensor.wait_for(lambda s: s.commands().count(CMD_ENROLL) >= 2, timeout=5)
    assert client.get("State") == 2
    client.fprint.StopEnroll()
    assert rig.wait_log(EXIT_LINE)
    assert rig.service.proc.poll() is None


@pytest.mark.parametrize("fault", ["stall", "short write"])
def test_a_sensor_that_fails_writes_ends_the_capture(rig, fault):
    sensor = rig.simbus.add(PRODUCT_PLAIN)
    client = rig.claimed()
    set_fault = sensor.stall if fault == "stall" else sensor.write_short
    set_fault(True)
    client.fprint.Enroll("1000", "thumb")  # the identity exchange fails silently
    assert rig.wait_log(EXIT_LINE)
    assert "tx_cb failed" in rig.service.stdout()
    assert "txd ok" not in rig.service.log()
    set_fault(False)
    client.fprint.Enroll("1000", "thumb")
    assert sensor.wait_for(lambda s: s.commands().count(CMD_ENROLL) >= 2)
    client.fprint.StopEnroll()
