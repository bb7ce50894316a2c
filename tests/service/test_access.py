"""Who may do what: root as always, everybody else on their own fingers with
polkit's word (a python-dbusmock stand-in on the private bus), and nobody
hears another person's results."""
import os
import shutil
import subprocess
import sys
import time

import dbus
import pytest

from conftest import TEST_USERS, as_user, installed_mode
from enrol_session import OWNER, generate_fingers, have_fpgen
from simsensor import PRODUCT_PLAIN
from pathlib import Path

BUILD = Path(os.environ.get("VEKO_BUILD_DIR", ""))
CTL = Path("/usr/sbin/veko2547-ctl") if installed_mode() else BUILD / "tools" / "ctl" / "veko2547-ctl"
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "demo"))
from demo_sensor import ENROL_TOUCHES, Feeder  # noqa: E402

DENIED = ("org.freedesktop.DBus.Error.AccessDenied", "not authorised.")
VERIFY, ENROLL, MANAGE = (f"com.vekoid.fprint.{a}" for a in ("verify", "enroll", "manage"))

needs_fingers = pytest.mark.skipif(not have_fpgen(), reason="fpgen is not built")

# Calls the service as the user this runs as: prints the reply or the error.
CALL = """
import sys, dbus
bus = dbus.bus.BusConnection(sys.argv[1])
fprint = dbus.Interface(bus.get_object("com.vekoid.fprint", "/com/vekoid", introspect=False), "com.vekoid.fprint")
for call in sys.argv[2:]:
    member, *args = call.split(":")
    args = [a == "true" if a in ("true", "false") else a for a in args]
    try:
        print(repr(getattr(fprint, member)(*args, timeout=10)))
    except dbus.DBusException as error:
        print(error.get_dbus_name(), error.get_dbus_message())
"""


def call_as(user, address, *calls):
    """Each call ("Member:arg:arg") as `user`, in one connection: one line each."""
    run = subprocess.run([*as_user(user), "/usr/bin/python3", "-c", CALL, address, *calls],
                         capture_output=True, text=True, timeout=60, cwd="/")
    assert run.returncode == 0, run.stderr
    return run.stdout.splitlines()


@pytest.fixture
def rig(simbus, harness):
    """The service knowing the test users, one sensor, and polkit allowing nothing yet."""
    sensor = simbus.add(PRODUCT_PLAIN)
    polkit = harness.start_mock("polkitd")
    service = harness.start_service(extra_env=harness.users_env(simbus.env()))
    for user in ("alice", "bob"):
        (service.store_root / user).mkdir()
        (service.store_root / user / "index.Data").write_bytes(bytes(28000))
    return harness, service, sensor, polkit


def test_root_is_never_asked_about(rig):
    harness, service, sensor, polkit = rig
    client = harness.client()
    for user in ("alice", "bob"):
        assert list(client.fprint.ListFingers(user)) == ["index"]
    client.fprint.Claim("bob", True)
    client.fprint.Verify("")
    client.fprint.StopVerify()
    client.fprint.RenameFinger("bob", "index", "ring")
    client.fprint.DeleteFinger("bob", "ring")
    client.fprint.Claim("bob", False)
    assert polkit.calls("CheckAuthorization") == []


def test_a_user_acts_on_their_own_fingers_with_polkits_word(rig):
    harness, service, sensor, polkit = rig
    address = harness.bus.address
    # Listing one's own fingers needs nothing; claiming for oneself neither.
    assert call_as("alice", address, "ListFingers:alice", "Claim:alice:true", "Claim:alice:false") == [
        "dbus.Array([dbus.String('index')], signature=dbus.Signature('s'))", "None", "None"]
    # Everything else is refused while polkit says no, and nothing changes.
    assert call_as("alice", address, "ListFingers:bob", "Claim:bob:true", "RenameFinger:alice:index:ring",
                   "DeleteFinger:bob:index", "DeleteAllFingers:alice") == [" ".join(DENIED)] * 5
    assert sorted(p.name for p in service.store_root.rglob("*.Data")) == ["index.Data", "index.Data"]
    assert harness.client().get("State") == 1
    # Asked: the action, the caller's bus name as the subject, and a password
    # prompt allowed only where the action's default asks for one.
    checks = polkit.calls("CheckAuthorization")
    assert [(str(c[1]), int(c[3])) for c in checks] == [(MANAGE, 1), (MANAGE, 1), (ENROLL, 1), (MANAGE, 1),
                                                         (ENROLL, 1)]
    assert all(c[0][0] == "system-bus-name" and str(c[0][1]["name"]).startswith(":") for c in checks)

    polkit.mock.SetAllowed([ENROLL])
    assert call_as("alice", address, "RenameFinger:alice:index:ring", "DeleteFinger:bob:index") == [
        "None", " ".join(DENIED)]
    polkit.mock.SetAllowed([ENROLL, MANAGE])
    assert call_as("alice", address, "DeleteFinger:bob:index", "Claim:bob:true", "Claim:bob:false") == ["None"] * 3
    assert sorted(p.relative_to(service.store_root).as_posix() for p in service.store_root.rglob("*.Data")) == [
        "alice/ring.Data"]


def test_the_client_as_a_user(rig):
    harness, service, sensor, polkit = rig
    ctl = harness.public_copy(CTL)

    def run(*args):
        done = subprocess.run([*as_user("alice"), str(ctl), *args], capture_output=True, text=True, timeout=60,
                              cwd="/", env={**os.environ, "DBUS_SYSTEM_BUS_ADDRESS": harness.bus.address})
        return done.returncode, done.stdout, done.stderr

    assert run("list", "alice") == (0, "index\n", "")
    refused = "not allowed: the system's policy (polkit) did not authorise this for your user\n"
    assert run("list", "bob") == (2, "", "veko2547-ctl: list: " + refused)
    assert run("enroll", "alice", "thumb") == (2, "", "veko2547-ctl: enroll: " + refused)
    assert run("delete", "alice", "index") == (2, "", "veko2547-ctl: delete: " + refused)
    assert (service.store_root / "alice" / "index.Data").exists() and harness.client().get("State") == 1


def test_verify_needs_polkits_word_without_asking_for_a_password(rig):
    harness, service, sensor, polkit = rig
    address = harness.bus.address
    assert call_as("alice", address, "Claim:alice:true", "Verify:any") == ["None", " ".join(DENIED)]
    polkit.mock.SetAllowed([VERIFY])
    assert call_as("alice", address, "Claim:alice:true", "Verify:any", "StopVerify:", "Claim:alice:false") == [
        "None"] * 4
    assert [(str(c[1]), int(c[3])) for c in polkit.calls("CheckAuthorization")] == [(VERIFY, 0)] * 2


def test_without_polkit_users_get_only_what_needs_no_word(simbus, harness):
    simbus.add(PRODUCT_PLAIN)
    service = harness.start_service(extra_env=harness.users_env(simbus.env()))
    (service.store_root / "alice").mkdir()
    assert call_as("alice", harness.bus.address, "ListFingers:alice", "Claim:alice:true", "Verify:any") == [
        "dbus.Dictionary({}, signature=dbus.Signature('ss'))", "None", " ".join(DENIED)]


# Listens as `user` for the service's signals, eavesdropping included; prints
# every one it got (member, args) after the given seconds.
LISTEN = """
import sys, time, dbus, dbus.mainloop.glib
from gi.repository import GLib
bus = dbus.bus.BusConnection(sys.argv[1], mainloop=dbus.mainloop.glib.DBusGMainLoop())
got = []
for rule in ("type='signal',sender='com.vekoid.fprint'", "eavesdrop='true',type='signal'"):
    try:
        bus.add_match_string(rule)
    except dbus.DBusException:
        pass
bus.add_message_filter(lambda c, m: got.append((m.get_member(), m.get_args_list()))
                       if m.get_interface() == "com.vekoid.fprint" else None)
print("ready", flush=True)
context = GLib.MainContext.default()
deadline = time.monotonic() + float(sys.argv[2])
while time.monotonic() < deadline:
    context.iteration(False) or time.sleep(0.01)
print(repr([(str(m), [str(a) for a in args]) for m, args in got]))
"""


@needs_fingers
def test_nobody_hears_another_persons_results(rig, tmp_path):
    harness, service, sensor, polkit = rig
    polkit.mock.SetAllowed([VERIFY, ENROLL])
    images = generate_fingers(tmp_path / "fingers", (OWNER,), ENROL_TOUCHES, (PRODUCT_PLAIN,))[OWNER][PRODUCT_PLAIN]
    listeners = {user: subprocess.Popen([*as_user(user), "/usr/bin/python3", "-c", LISTEN, harness.bus.address, "8"],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd="/")
                 for user in ("bob", "carol")}
    for listener in listeners.values():
        assert listener.stdout.readline().strip() == "ready", listener.stderr.read()
    root_client = harness.client()
    feeder = Feeder(sensor, pause=0.0)
    feeder.present(images)
    feeder.start()
    try:
        # alice enrols through the client, as herself.
        run = subprocess.run([*as_user("alice"), str(harness.public_copy(CTL)), "enroll", "alice", "thumb"],
                             capture_output=True,
                             text=True, timeout=60, cwd="/", env={**os.environ, "DBUS_SYSTEM_BUS_ADDRESS":
                                                                  harness.bus.address})
    finally:
        feeder.stop()
    assert run.returncode == 0, run.stdout + run.stderr
    assert "progress 50%" in run.stdout
    for user, listener in listeners.items():
        out, err = listener.communicate(timeout=30)
        assert out.strip() == "[]", (user, out, err)
    # Not even root hears a status addressed to somebody else.
    root_client.wait_for_signals(1, timeout=0.5)
    assert root_client.signals == []
