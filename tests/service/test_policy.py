"""The shipped bus policy: root may own the name and call the service, anybody
else is refused by the bus itself."""
import subprocess

from conftest import BUS_NAME, service_binary

CALL_AS_NOBODY = """
import sys, dbus
bus = dbus.bus.BusConnection(sys.argv[1])
proxy = bus.get_object("com.vekoid.fprint", "/com/vekoid", introspect=False)
try:
    print(proxy.Get("com.vekoid.fprint", "Name", dbus_interface="org.freedesktop.DBus.Properties", timeout=3))
except dbus.DBusException as error:
    print(error.get_dbus_name())
"""

AS_NOBODY = ["setpriv", "--reuid", "nobody", "--regid", "nogroup", "--clear-groups"]


def test_root_may_call(client):
    assert client.get("Name") == "Veko2547"


def test_other_users_are_refused_by_the_bus(harness, service, client):
    result = subprocess.run([*AS_NOBODY, "/usr/bin/python3", "-c", CALL_AS_NOBODY, harness.bus.address],
                            capture_output=True, text=True, timeout=30, cwd="/")
    assert result.stdout.strip() == "org.freedesktop.DBus.Error.AccessDenied", result.stderr
    # The refusal never reached the service.
    assert "handle_GetProperty" not in service.log()
    client.get("Name")


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
