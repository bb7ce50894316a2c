"""Simulated fingerprint sensors on a simulated USB bus, for the service under
its real libusb.

umockdev's preload library gives the service process a testbed /sys and /dev;
every usbfs ioctl the service makes on a sensor's device node arrives here, in
the test process, and is answered by a small model of the sensor:

- the 8-byte command frames EA cc 00 00 00 00 cc EA: 01 identity request (the
  sensor answers 8 bytes; it also ends a waiting capture), 02 end of capture,
  03 and 04 start a capture;
- after a start command, while a finger is on the sensor, the image is sent
  once, as the service reads it (in as many reads as it takes);
- the test places and lifts the finger at any moment, and can make the sensor
  misbehave: unplug, stall, arbitrary bytes (a short, oversized or garbage
  image is simply placed as the finger's bytes).

Every command and every transfer is recorded so tests can assert the order of
the protocol. Several sensors may sit on one bus.
"""
import atexit
import errno
import os
import shutil
import struct
import threading
import time

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import UMockdev  # noqa: E402

VENDOR = 0x2541
PRODUCT_12BIT = 0x2547
PRODUCT_SPLIT = 0x2548
PRODUCT_PLAIN = 0x2549
RAW_LENGTH = {PRODUCT_12BIT: 13824, PRODUCT_SPLIT: 8024, PRODUCT_PLAIN: 9856}

CMD_IDENTITY = 0x01
CMD_END = 0x02
CMD_ENROLL = 0x03
CMD_VERIFY = 0x04

# usbdevfs requests (x86-64 numbers).
GET_CAPABILITIES = 0x8004551A
GETDRIVER = 0x41045508
USB_IOCTL = 0xC0105512
CLAIMINTERFACE = 0x8004550F
RELEASEINTERFACE = 0x80045510
SUBMITURB = 0x8038550A
REAPURBNDELAY = 0x4008550D
REAPURB = 0x4008550C
DISCARDURB = 0x0000550B
CLEAR_HALT = 0x80045515
RESET = 0x5514
SETINTERFACE = 0x80085504
IOCTL_DISCONNECT = 0x5516
IOCTL_CONNECT = 0x5517
# Zero packets, bulk continuation, no packet size limit, scatter-gather,
# reap after disconnect: libusb then sends one URB per transfer.
CAPABILITIES = 0x1F

URB_HEADER = struct.Struct("<BBxxiI4xQi")  # type, endpoint, status, flags, buffer, length
URB_SIZE = 56
GETDRIVER_SIZE = 4 + 256
URB_STATUS_OFFSET = 4
URB_ACTUAL_OFFSET = 28
URB_BUFFER_OFFSET = 16

DRIVER_NAME = b"vekohid"


def command(code):
    return bytes([0xEA, code, 0, 0, 0, 0, code, 0xEA])


def _descriptors(product, packet_size):
    device = struct.pack("<BBHBBBBHHHBBBB", 18, 1, 0x0200, 0, 0, 0, 64, VENDOR, product, 0x0100, 0, 0, 0, 1)
    interfaces = b""
    for number, (ep_in, ep_out) in enumerate(((0x81, 0x01), (0x84, 0x03))):
        interfaces += struct.pack("<BBBBBBBBB", 9, 4, number, 0, 2, 0xFF, 0, 0, 0)
        for address in (ep_in, ep_out):
            interfaces += struct.pack("<BBBBHB", 7, 5, address, 2, packet_size, 0)
    config = struct.pack("<BBHBBBBB", 9, 2, 9 + len(interfaces), 2, 1, 0, 0x80, 50) + interfaces
    return (device + config).hex()


def _hub_descriptors():
    device = struct.pack("<BBHBBBBHHHBBBB", 18, 1, 0x0200, 9, 0, 1, 64, 0x1D6B, 0x0002, 0x0606, 0, 0, 0, 1)
    interface = struct.pack("<BBBBBBBBB", 9, 4, 0, 0, 1, 9, 0, 0, 0)
    endpoint = struct.pack("<BBBBHB", 7, 5, 0x81, 3, 4, 12)
    config = struct.pack("<BBHBBBBB", 9, 2, 25, 1, 1, 0, 0xE0, 0) + interface + endpoint
    return (device + config).hex()


ROOT_HUB = """P: /devices/pci0000:00/0000:00:14.0/usb1
N: bus/usb/001/001
E: DEVNAME=/dev/bus/usb/001/001
E: DEVTYPE=usb_device
E: SUBSYSTEM=usb
E: BUSNUM=001
E: DEVNUM=001
A: busnum=1
A: devnum=1
A: speed=480
A: bConfigurationValue=1
A: idVendor=1d6b
A: idProduct=0002
A: dev=189:0
H: descriptors={descriptors}
"""

SENSOR = """P: /devices/pci0000:00/0000:00:14.0/usb1/1-{port}
N: bus/usb/001/{devnum:03d}
E: DEVNAME=/dev/bus/usb/001/{devnum:03d}
E: DEVTYPE=usb_device
E: SUBSYSTEM=usb
E: BUSNUM=001
E: DEVNUM={devnum:03d}
A: busnum=1
A: devnum={devnum}
A: speed={speed}
A: bConfigurationValue=1
A: idVendor={vendor:04x}
A: idProduct={product:04x}
A: dev=189:{minor}
H: descriptors={descriptors}
"""


class Urb:
    """One submitted URB: the client's address, endpoint and length, and
    once completed its result (status, data, actual length)."""

    def __init__(self, address, endpoint, length):
        self.address = address
        self.endpoint = endpoint
        self.length = length
        self.result = None


class SimSensor(UMockdev.IoctlBase):
    """Model of one sensor, answering the usbfs ioctls of its device node."""

    def __init__(self, product, high_speed=False):
        super().__init__()
        self.product = product
        self.high_speed = high_speed
        self.ep_in, self.ep_out = (0x84, 0x03) if high_speed else (0x81, 0x01)
        self.lock = threading.RLock()
        self.changed = threading.Condition(self.lock)
        # What the service did, in order: ("claim", ifno), ("detach", ifno),
        # ("release", ifno), ("out", endpoint, bytes), ("in", endpoint, length).
        self.events = []
        self.kernel_driver = {0: True, 1: True}
        self.claimed = set()
        self.capturing = None      # start command code while a capture waits
        self.finger = None         # bytes sent for an image while placed
        self.outgoing = bytearray()
        self.pending = []          # IN URBs waiting for data
        self.reapable = []         # completed URBs not yet reaped
        self.unplugged = False
        self.stalled = False
        self.short_writes = False  # OUT transfers complete with one byte missing
        self.hold_writes = False   # OUT transfers stay pending (the sensor NAKs)
        self.pending_out = []
        self.wakeup = None         # see use_wakeup_fifo
        self.images_sent = 0
        self.read_times = []       # monotonic time of every IN submission
        self.most_pending = 0      # most IN URBs ever waiting at once

    # ---- test side ----

    def place_finger(self, image):
        """Puts a finger with this raw image (any bytes) on the sensor."""
        with self.lock:
            self.finger = bytes(image)
            self._maybe_send_image()
            self._serve()

    def lift_finger(self):
        with self.lock:
            self.finger = None

    def send_bytes(self, data):
        """Sends bytes at once, whatever the protocol state (garbage)."""
        with self.lock:
            self.outgoing += data
            self._serve()

    def unplug(self):
        """Pending transfers fail, then every request fails with ENODEV."""
        with self.lock:
            self.unplugged = True
            for urb in self.pending + self.pending_out:
                self._complete(urb, -errno.ESHUTDOWN, b"")
            self.pending = []
            self.pending_out = []
            self._drain()  # from now on every poll reports the device gone
            self.changed.notify_all()

    def host_gone(self):
        """The process using the sensor died: its URBs and claims go with it,
        as when usbfs closes the file of a killed process. Call it after the
        process has ended and before another one opens the sensor."""
        with self.lock:
            self.pending = []
            self.pending_out = []
            self.reapable = []
            self.claimed.clear()
            self.capturing = None
            self.outgoing = bytearray()
            self._fill()
            self.changed.notify_all()

    def stall(self, stalled=True):
        with self.lock:
            self.stalled = stalled

    def hold(self, held=True):
        """While held, writes are never accepted; they end only by time-out or cancel."""
        with self.lock:
            self.hold_writes = held

    def write_short(self, short=True):
        with self.lock:
            self.short_writes = short

    def commands(self):
        """Command codes received on the OUT endpoint, in order."""
        with self.lock:
            return [e[2][1] for e in self.events if e[0] == "out" and len(e[2]) == 8]

    def out_endpoints(self):
        with self.lock:
            return {e[1] for e in self.events if e[0] == "out"}

    def in_endpoints(self):
        with self.lock:
            return {e[1] for e in self.events if e[0] == "in"}

    def reads(self):
        with self.lock:
            return [e[2] for e in self.events if e[0] == "in"]

    def wait_for(self, predicate, timeout=5.0):
        """Waits until predicate(self) holds; returns whether it did."""
        deadline = time.monotonic() + timeout
        with self.lock:
            while not predicate(self):
                left = deadline - time.monotonic()
                if left <= 0:
                    return False
                self.changed.wait(min(left, 0.05))
            return True

    def pending_reads(self):
        with self.lock:
            return len(self.pending)

    # ---- polling ----

    def use_wakeup_fifo(self, path):
        """Makes the device node a FIFO that signals reapable URBs.

        A regular file always polls writable, so libusb's event thread would
        ask for URBs in a busy loop. A full FIFO does not poll writable; it is
        drained while a completed URB waits to be reaped and filled again when
        none is left, which is how usbfs signals completions. Returns False
        (the node stays a regular file) when the FIFO cannot be made."""
        try:
            os.unlink(path)
            os.mkfifo(path, 0o666)
            self.wakeup = os.open(path, os.O_RDWR | os.O_NONBLOCK)
        except OSError:
            if not os.path.exists(path):
                open(path, "wb").close()
            return False
        self._fill()
        return True

    def _fill(self):
        if self.wakeup is None:
            return
        block = bytes(4096)
        try:
            while True:
                os.write(self.wakeup, block)
        except BlockingIOError:
            pass

    def _drain(self):
        if self.wakeup is None:
            return
        try:
            while os.read(self.wakeup, 65536):
                pass
        except BlockingIOError:
            pass

    def close_wakeup(self):
        if self.wakeup is not None:
            os.close(self.wakeup)
            self.wakeup = None

    # ---- model ----

    def _maybe_send_image(self):
        if self.capturing is not None and self.finger is not None and not self.outgoing:
            self.outgoing += self.finger
            self.capturing = None
            self.images_sent += 1

    def _on_command(self, data):
        if len(data) != 8 or data[0] != 0xEA or data[7] != 0xEA or data[1] != data[6]:
            return  # not a frame: ignored, as the sensor does
        code = data[1]
        if code == CMD_IDENTITY:
            self.capturing = None
            self.outgoing = bytearray(b"\xEA\x01" + struct.pack("<HH", VENDOR, self.product) + b"\x01\xEA")
        elif code == CMD_END:
            self.capturing = None
            self.outgoing = bytearray()
        elif code in (CMD_ENROLL, CMD_VERIFY):
            self.capturing = code
            self._maybe_send_image()

    def _complete(self, urb, status, payload, actual=None):
        # Written into the client's URB when it is reaped, on the handler's thread.
        urb.result = (status, payload, len(payload) if actual is None else actual)
        self.reapable.append(urb)
        self._drain()
        self.changed.notify_all()

    @staticmethod
    def _write_back(arg, urb):
        """Hands a completed URB to the reaping client: its address into the
        argument, then status, length and data into the client's URB, all
        through this ioctl's own data so they reach the client together."""
        status, payload, actual = urb.result
        slot = arg.resolve(0, 8)
        slot.update(0, struct.pack("<Q", urb.address))
        client_urb = slot.resolve(0, URB_SIZE)
        client_urb.update(URB_STATUS_OFFSET, struct.pack("<i", status))
        client_urb.update(URB_ACTUAL_OFFSET, struct.pack("<i", actual))
        if payload:
            client_urb.resolve(URB_BUFFER_OFFSET, len(payload)).update(0, payload)

    def _serve(self):
        while self.pending and self.outgoing:
            urb = self.pending.pop(0)
            chunk = bytes(self.outgoing[:urb.length])
            del self.outgoing[:urb.length]
            self._complete(urb, 0, chunk)

    # ---- ioctls ----

    def do_handle_ioctl(self, client):
        try:
            result, err = self._ioctl(client)
        except Exception:  # never leave the client waiting
            result, err = -1, errno.EIO
        client.complete(result, err)
        return True

    def _ioctl(self, client):
        request = client.get_request()
        arg = client.get_arg()
        with self.lock:
            if request in (REAPURBNDELAY, REAPURB):
                if self.reapable:
                    urb = self.reapable.pop(0)
                    self._write_back(arg, urb)
                    if not self.reapable and not self.unplugged:
                        self._fill()
                    return 0, 0
                return -1, (errno.ENODEV if self.unplugged else errno.EAGAIN)
            if self.unplugged:
                return -1, errno.ENODEV
            if request == GET_CAPABILITIES:
                arg.resolve(0, 4).update(0, struct.pack("<I", CAPABILITIES))
                return 0, 0
            if request == GETDRIVER:
                data = arg.resolve(0, GETDRIVER_SIZE)
                ifno = struct.unpack_from("<I", bytes(data.retrieve()))[0]
                if self.kernel_driver.get(ifno):
                    data.update(4, DRIVER_NAME + b"\0")
                    return 0, 0
                return -1, errno.ENODATA
            if request == USB_IOCTL:
                ifno, code = struct.unpack_from("<ii", bytes(arg.resolve(0, 16).retrieve()))
                if code == IOCTL_DISCONNECT:
                    if not self.kernel_driver.get(ifno):
                        return -1, errno.ENODATA
                    self.kernel_driver[ifno] = False
                    self.events.append(("detach", ifno))
                    return 0, 0
                if code == IOCTL_CONNECT:
                    self.kernel_driver[ifno] = True
                    return 0, 0
                return -1, errno.ENOTTY
            if request in (CLAIMINTERFACE, RELEASEINTERFACE):
                ifno = struct.unpack_from("<I", bytes(arg.resolve(0, 4).retrieve()))[0]
                if request == CLAIMINTERFACE:
                    if self.kernel_driver.get(ifno):
                        return -1, errno.EBUSY
                    self.claimed.add(ifno)
                    self.events.append(("claim", ifno))
                else:
                    self.claimed.discard(ifno)
                    self.events.append(("release", ifno))
                self.changed.notify_all()
                return 0, 0
            if request == SUBMITURB:
                return self._submit(arg)
            if request == DISCARDURB:
                address = struct.unpack_from("<Q", bytes(arg.retrieve()).ljust(8, b"\0"))[0]
                for queue in (self.pending, self.pending_out):
                    for urb in queue:
                        if urb.address == address:
                            queue.remove(urb)
                            self._complete(urb, -errno.ECONNRESET, b"")
                            return 0, 0
                return -1, errno.EINVAL
            if request in (CLEAR_HALT, RESET, SETINTERFACE):
                return 0, 0
            return -1, errno.ENOTTY

    def _submit(self, arg):
        # The argument holds the client's URB address; DISCARDURB names the
        # URB by it. Read it before resolving, which rewrites the pointer.
        address = struct.unpack_from("<Q", bytes(arg.retrieve()))[0]
        data = arg.resolve(0, URB_SIZE)
        _, endpoint, _, _, _, length = URB_HEADER.unpack_from(bytes(data.retrieve()))
        buffer = data.resolve(URB_BUFFER_OFFSET, length)
        urb = Urb(address, endpoint, length)
        if endpoint & 0x80:
            self.events.append(("in", endpoint, length))
            self.read_times.append(time.monotonic())
        else:
            self.events.append(("out", endpoint, bytes(buffer.retrieve())[:length]))
        self.changed.notify_all()
        if self.stalled or endpoint not in (self.ep_in, self.ep_out):
            self._complete(urb, -errno.EPIPE, b"")
            return 0, 0
        if endpoint & 0x80:
            self.pending.append(urb)
            self.most_pending = max(self.most_pending, len(self.pending))
            self._serve()
        elif self.hold_writes:
            self.pending_out.append(urb)
        else:
            sent = bytes(buffer.retrieve())[:length]
            self._on_command(sent)
            self._complete(urb, 0, b"", actual=length - 1 if self.short_writes else length)
            self._serve()
        return 0, 0


# Testbeds of ended tests, kept alive until the process ends (see SimBus.close);
# their directories are removed then.
_RETIRED_TESTBEDS = []


@atexit.register
def _remove_retired_testbeds():
    for testbed in _RETIRED_TESTBEDS:
        shutil.rmtree(testbed.get_root_dir(), ignore_errors=True)


class SimBus:
    """A testbed bus with any number of simulated sensors. The service must be
    started with `env()` added to its environment.

    Sensors may come and go while the service runs (`add(..., announce=True)`,
    `remove`): their uevents reach the service's libusb only when this process
    runs under umockdev's preload (umockdev-wrapper), see `can_announce`."""

    def __init__(self):
        self.testbed = UMockdev.Testbed.new()
        self.sensors = []
        self.next_devnum = 2
        self.testbed.add_from_string(ROOT_HUB.format(descriptors=_hub_descriptors()))

    @staticmethod
    def can_announce():
        """Whether uevents of this process reach the service (it runs preloaded)."""
        return "libumockdev-preload" in os.environ.get("LD_PRELOAD", "")

    def add(self, product, high_speed=False, port=None, announce=False):
        """Attaches a sensor on `port` (the next free one by default) with the
        next device number, as the kernel numbers a device plugged in or
        enumerated again; `announce` sends its "add" uevent. Returns its model."""
        port = port or len(self.sensors) + 1
        devnum = self.next_devnum
        self.next_devnum += 1
        packet = 512 if high_speed else 64
        text = SENSOR.format(port=port, devnum=devnum, speed=480 if high_speed else 12, vendor=VENDOR,
                             product=product, minor=devnum - 1, descriptors=_descriptors(product, packet))
        self.testbed.add_from_string(text)
        # umockdev answers the ioctls of an attached handler on its own thread.
        sensor = SimSensor(product, high_speed)
        sensor.node = f"/dev/bus/usb/001/{devnum:03d}"
        sensor.syspath = f"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-{port}"
        sensor.port = port
        sensor.use_wakeup_fifo(os.path.join(self.testbed.get_root_dir(), sensor.node[1:]))
        self.testbed.attach_ioctl(sensor.node, sensor)
        self.sensors.append(sensor)
        if announce:
            self._uevent(sensor.syspath, "add")
        return sensor

    def remove(self, sensor, announce=True):
        """The sensor leaves the bus: its transfers fail as on an unplug, its
        "remove" uevent is sent (`announce`) and it is gone from /sys and /dev."""
        sensor.unplug()
        if announce:
            self._uevent(sensor.syspath, "remove")
        self.testbed.detach_ioctl(sensor.node)
        sensor.close_wakeup()
        self.testbed.remove_device(sensor.syspath)
        self.sensors.remove(sensor)

    def _uevent(self, syspath, action):
        # The preload finds the testbed through UMOCKDEV_DIR in this process's
        # environment, which a finalised testbed unsets, even another one's.
        os.environ["UMOCKDEV_DIR"] = self.testbed.get_root_dir()
        self.testbed.uevent(syspath, action)

    def env(self):
        return {"LD_PRELOAD": "libumockdev-preload.so.0", "UMOCKDEV_DIR": self.testbed.get_root_dir()}

    def close(self):
        for sensor in self.sensors:
            self.testbed.detach_ioctl(sensor.node)
            sensor.close_wakeup()
        # Kept alive until the process ends: finalising a testbed unsets
        # UMOCKDEV_DIR (another test's too), and finalising one right after its
        # handlers were detached has crashed the next testbed's creation.
        _RETIRED_TESTBEDS.append(self.testbed)
