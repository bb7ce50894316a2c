"""The shipped bus policy: only root may own the name or send signals of its
interface; anybody may call the service, which decides what they may do, and
hears only the signals addressed to them."""
import subprocess
import time

from conftest import BUS_NAME, service_binary
from simsensor import PRODUCT_PLAIN, RAW_LENGTH

CALL_AS_NOBODY = """
import sys, dbus
bus = dbus.bus.BusConnection(sys.argv[1])
proxy = bus.get_object("com.vekoid.fprint", "/com/vekoid", introspect=False)
print(proxy.Get("com.vekoid.fprint", "Name", dbus_interface="org.freedesktop.DBus.Properties", timeout=3))
try:
    proxy.Verify("", dbus_interface="com.vekoid.fprint", timeout=3)
except dbus.DBusException as error:
    print(error.get_dbus_name(), error.get_dbus_message())
"""

AS_NOBODY = ["setpriv", "--reuid", "nobody", "--regid", "nogroup", "--clear-groups"]


def test_root_may_call(client):
    assert client.get("Name") == "Veko2547"


def test_other_users_may_call_and_the_service_decides(harness, service, client):
    result = subprocess.run([*AS_NOBODY, "/usr/bin/python3", "-c", CALL_AS_NOBODY, harness.bus.address],
                            capture_output=True, text=True, timeout=30, cwd="/")
    assert result.stdout.splitlines() == ["Veko2547", "org.freedesktop.DBus.Error.AccessDenied not authorised."], (
        result.stderr)
    assert "handle_GetProperty" in service.log() and "handle_Verify" not in service.log()


def test_other_users_may_not_own_the_name(harness, tmp_path):
    # Everything the unprivileged instance needs lives in the bus's public directory.
    shared = harness.bus.dir
    (shared / "flag").write_text("")
    stdout = tmp_path / "nobody-stdout.txt"
    args = [service_binary(), "--store-root", str(shared / "store"), "--log-file", str(shared / "log"),
            "--log-flag", str(shared / "flag")]
    with open(stdout, "wb") as out:
        result = subprocess.run([*AS_NOBODY, *args], stdout=out, stderr=subprocess.STDOUT, timeout=30, cwd="/",
                                env={"DBUS_SYSTEM_BUS_ADDRESS": harness.bus.address})
    assert result.returncode == 1
    assert "Requece name error(" in stdout.read_text()
    assert not harness.connect().name_has_owner(BUS_NAME)


# Listens as another user for the service's signals (eavesdropping included),
# or sends forged ones to everybody and to one connection; prints what it got.
AS_NOBODY_SIGNALS = """
import sys, time, dbus, dbus.lowlevel, dbus.mainloop.glib
from gi.repository import GLib
bus = dbus.bus.BusConnection(sys.argv[1], mainloop=dbus.mainloop.glib.DBusGMainLoop())
if sys.argv[2] == "listen":
    got = []
    for rule in ("type='signal',interface='com.vekoid.fprint'", "eavesdrop='true',type='signal'"):
        try:
            bus.add_match_string(rule)
        except dbus.DBusException:
            pass
    bus.add_message_filter(lambda c, m: got.append(m.get_member()) if m.get_interface() == "com.vekoid.fprint" else None)
    print("ready", flush=True)
    context = GLib.MainContext.default()
    deadline = time.monotonic() + float(sys.argv[3])
    while time.monotonic() < deadline:
        context.iteration(False) or time.sleep(0.01)
    print(len(got))
else:
    for destination in (None, sys.argv[3]):
        message = dbus.lowlevel.SignalMessage("/com/vekoid", "com.vekoid.fprint", "VerifyStatus")
        message.append("root", 0, "", signature="sis")
        if destination:
            message.set_destination(destination)
        bus.send_message(message)
    bus.flush()
    print("sent")
"""


def as_nobody(address, *args, **kwargs):
    return subprocess.Popen([*AS_NOBODY, "/usr/bin/python3", "-c", AS_NOBODY_SIGNALS, address, *args],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd="/", **kwargs)


def test_other_users_neither_receive_nor_send_the_status_signals(simbus, harness):
    sensor = simbus.add(PRODUCT_PLAIN)
    service = harness.start_service(extra_env=simbus.env())
    (service.store_root / "gina").mkdir()
    (service.store_root / "gina" / "thumb.Data").write_bytes(bytes(28000))
    client = harness.client()
    listener = as_nobody(harness.bus.address, "listen", "3")
    assert listener.stdout.readline().strip() == "ready", listener.stderr.read()

    # The service refuses an enrolment of an existing finger by signal.
    client.fprint.Claim("1000", True)
    client.fprint.Enroll("gina", "thumb")
    assert client.wait_for_signals(1) == [("EnrollStatus", ("gina", 1, '{"subcode":2}'))]
    # A touch not taken is told to whom the enrolment's statuses are told.
    client.fprint.Enroll("gina", "index")
    sensor.place_finger(bytes([0xF0]) * RAW_LENGTH[PRODUCT_PLAIN])
    assert client.wait_for_signals(2)[1] == ("EnrollRetry", ("gina", 1, '{"reason":"unusable"}'))
    sensor.lift_finger()
    client.fprint.StopEnroll()
    deadline = time.monotonic() + 5
    while client.signals[-1][0] != "EnrollStatus" and time.monotonic() < deadline:
        client.wait_for_signals(len(client.signals) + 1, timeout=0.1)
    assert client.signals[-1] == ("EnrollStatus", ("gina", 1, '{"subcode":3}'))
    assert {signal[0] for signal in client.signals[1:-1]} == {"EnrollRetry"}
    del client.signals[1:]

    # Another user's forged match reaches no one, not even when addressed.
    forger = as_nobody(harness.bus.address, "send", client.connection.get_unique_name())
    out, err = forger.communicate(timeout=30)
    assert out.strip() == "sent", err
    time.sleep(0.3)
    assert client.wait_for_signals(2, timeout=0.5) == [("EnrollStatus", ("gina", 1, '{"subcode":2}'))]
    out, err = listener.communicate(timeout=30)
    assert out.strip() == "0", err
