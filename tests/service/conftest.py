"""Harness for the service tests: a private system-like bus with the shipped
policy, the real service binary under it, and a client connection.

Every test gets its own bus, service and temporary store/log directory; all of
it is torn down after the test, also when the test fails.

Environment (set by CTest): VEKO_SVR is the service binary, VEKO_SOURCE_DIR the
source tree (for the shipped bus policy).

With --installed the harness runs the installed files instead of the build
tree's: /usr/sbin/veko2547_svr with the library the system's loader finds for
it, under the installed bus policy. A bus made with an activation environment
then also starts the service itself on the first call, from the installed
activation file, as the system bus does.
"""
import ctypes
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path

import dbus
import dbus.mainloop.glib
import pytest
from gi.repository import GLib

import bus_contract

BUS_NAME = bus_contract.SERVICE_NAME
INTERFACE = bus_contract.SERVICE_INTERFACE
OBJECT_PATH = bus_contract.SERVICE_PATH
PROPERTIES = bus_contract.PROPERTIES_INTERFACE

SOURCE_DIR = Path(os.environ.get("VEKO_SOURCE_DIR", Path(__file__).resolve().parents[2]))
POLICY_FILE = SOURCE_DIR / "packaging" / "com.vekoid.fprint.conf"

INSTALLED_SVR = Path("/usr/sbin/veko2547_svr")
INSTALLED_POLICY = Path("/usr/share/dbus-1/system.d/com.vekoid.fprint.conf")
INSTALLED_ACTIVATION_DIR = Path("/usr/share/dbus-1/system-services")

_installed = False


def pytest_addoption(parser):
    parser.addoption("--installed", action="store_true",
                     help="run the installed service, library and bus policy instead of the build tree's")
    parser.addoption("--debs", metavar="DIR",
                     help="the packages to install (test_installed_package.py)")


def pytest_configure(config):
    global _installed
    _installed = config.getoption("--installed")


def installed_mode():
    return _installed


def pam_module_path():
    """The build tree's PAM module, or with --installed the one the package put where Debian's libpam looks."""
    if not _installed:
        return Path(os.environ.get("VEKO_BUILD_DIR", "")).resolve() / "pam" / "pam_veko2547.so"
    arch = subprocess.run(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"], capture_output=True, text=True)
    return Path("/lib", arch.stdout.strip(), "security", "pam_veko2547.so")


def policy_file():
    return INSTALLED_POLICY if _installed else POLICY_FILE

# Same default policy as the system bus: nothing may own a name or call a
# method unless a policy file allows it.
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Properties"/>
    <allow send_destination="org.freedesktop.PolicyKit1"/>
    <allow send_destination="org.freedesktop.login1"/>
  </policy>
  <!-- Stand-ins for polkit and logind (python-dbusmock), started by root. -->
  <policy user="root">
    <allow own="org.freedesktop.PolicyKit1"/>
    <allow own="org.freedesktop.login1"/>
  </policy>
  <include>{policy}</include>{servicedir}
</busconfig>
"""

START_TIMEOUT_S = 10.0

_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def _die_with_parent():
    """Runs in the child before exec: if the test process dies, so does the child."""
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)


def service_binary():
    if _installed:
        if not os.access(INSTALLED_SVR, os.X_OK):
            pytest.fail(f"--installed: {INSTALLED_SVR} is not installed")
        return str(INSTALLED_SVR)
    path = os.environ.get("VEKO_SVR")
    if not path or not os.access(path, os.X_OK):
        pytest.fail("VEKO_SVR must name the built veko2547_svr binary")
    return path


def stop_process(proc, timeout=5.0):
    """Ends a process this harness started: SIGTERM, then SIGKILL."""
    if proc is None or proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def stop_pid(pid, timeout=5.0):
    """Ends a process that the private bus started (not a child of this
    process): SIGTERM, then SIGKILL; returns once it is gone."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            return
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not process_exists(pid):
                return
            time.sleep(0.02)


def process_exists(pid):
    """True while `pid` is a live process (a zombie awaiting its parent counts as gone)."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (FileNotFoundError, ProcessLookupError):
        return False


# Users other than root, known to the service through nss_wrapper (a passwd
# file of the test's own) and run with setpriv: no account of the machine is
# touched.
TEST_USERS = {"alice": 2001, "bob": 2002, "carol": 2003}


def as_user(name):
    """The command prefix that runs a program as the test user `name`."""
    uid = TEST_USERS[name]
    return ["setpriv", "--reuid", str(uid), "--regid", str(uid), "--clear-groups"]


def with_preload(env, library):
    """`env` with `library` added to LD_PRELOAD."""
    preload = " ".join(p for p in (env.get("LD_PRELOAD", ""), library) if p)
    return {**env, "LD_PRELOAD": preload}


class PrivateBus:
    """A dbus-daemon with a system-bus-like configuration in its own directory.

    The directory is world-readable so that an unprivileged client (for the
    policy tests) can reach the socket.

    With `activation_env` (installed mode only) the bus starts the service from
    the installed activation file on the first call. It runs the program
    itself, as the system bus does without systemd, in the bus's own
    environment: `activation_env` (a simulated sensor) and the address of this
    bus.
    """

    def __init__(self, activation_env=None):
        self.dir = Path(tempfile.mkdtemp(prefix="veko-bus-"))
        os.chmod(self.dir, 0o755)
        self.socket = self.dir / "system_bus_socket"
        self.address = f"unix:path={self.socket}"
        config = self.dir / "bus.conf"
        servicedir = ""
        env = None
        if activation_env is not None:
            if not _installed:
                raise RuntimeError("bus activation starts the installed service: use --installed")
            servicedir = f"\n  <servicedir>{INSTALLED_ACTIVATION_DIR}</servicedir>"
            env = {**os.environ, **activation_env, "DBUS_SYSTEM_BUS_ADDRESS": self.address}
        config.write_text(BUS_CONFIG.format(socket=self.socket, policy=policy_file(), servicedir=servicedir))
        # The bus knows the test users by name too (it looks up every
        # connecting user): this machine's accounts and TEST_USERS.
        self.passwd = self.dir / "passwd"
        self.group = self.dir / "group"
        self.passwd.write_text(Path("/etc/passwd").read_text() + "".join(
            f"{name}:x:{uid}:{uid}:{name}:/nonexistent:/bin/false\n" for name, uid in TEST_USERS.items()))
        self.group.write_text(Path("/etc/group").read_text() + "".join(
            f"{name}:x:{uid}:\n" for name, uid in TEST_USERS.items()))
        self.proc = subprocess.Popen(
            ["dbus-daemon", "--nofork", "--nopidfile", f"--config-file={config}"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, preexec_fn=_die_with_parent,
            env=self.users_env(env or dict(os.environ)))
        # The socket file appears at bind(), a moment before the daemon
        # listens on it (a busy machine once refused a client in between):
        # wait until a connection is accepted.
        deadline = time.monotonic() + START_TIMEOUT_S
        while not self._accepts():
            if self.proc.poll() is not None:
                raise RuntimeError("dbus-daemon failed: " + self.proc.stderr.read().decode())
            if time.monotonic() > deadline:
                raise RuntimeError("dbus-daemon did not listen on its socket")
            time.sleep(0.01)

    def _accepts(self):
        if not self.socket.exists():
            return False
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
            try:
                probe.connect(str(self.socket))
                return True
            except OSError:
                return False

    def connect(self):
        return dbus.bus.BusConnection(self.address, mainloop=dbus.mainloop.glib.DBusGMainLoop())

    def users_env(self, env):
        """`env` made to know TEST_USERS by name (nss_wrapper)."""
        return {**with_preload(env, "libnss_wrapper.so"), "NSS_WRAPPER_PASSWD": str(self.passwd),
                "NSS_WRAPPER_GROUP": str(self.group)}

    def close(self):
        stop_process(self.proc)
        if self.proc.stderr:
            self.proc.stderr.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class Service:
    """One running veko2547_svr with its store root, log file and flag file in
    a temporary directory."""

    def __init__(self, bus, workdir, logging=True, extra_env=None, extra_args=(), wrapper=()):
        self.bus = bus
        self.store_root = workdir / "store"
        self.store_root.mkdir(exist_ok=True)
        self.log_path = workdir / "service.log"
        self.flag_path = workdir / "log-enabled.conf"
        self.stdout_path = workdir / "stdout.txt"
        # The recognition setting: absent unless a test writes it (then profile 1).
        self.config_path = workdir / "veko2547.conf"
        if logging:
            self.flag_path.write_text("")
        env = dict(os.environ)
        env["DBUS_SYSTEM_BUS_ADDRESS"] = bus.address
        env.update(extra_env or {})
        self.args = [service_binary(), "--store-root", str(self.store_root), "--log-file",
                     str(self.log_path), "--log-flag", str(self.flag_path), "--config", str(self.config_path),
                     *extra_args]
        self._stdout = open(self.stdout_path, "wb")
        # `wrapper` runs the service under another program (a namespace, a
        # read-only mount), which must end by exec'ing it.
        self.proc = subprocess.Popen([*wrapper, *self.args], env=env, stdout=self._stdout, stderr=subprocess.STDOUT,
                                     preexec_fn=_die_with_parent)

    def wait_for_name(self, connection):
        deadline = time.monotonic() + START_TIMEOUT_S
        while not connection.name_has_owner(BUS_NAME):
            if self.proc.poll() is not None:
                raise RuntimeError(f"service exited with {self.proc.returncode}: {self.stdout()}")
            if time.monotonic() > deadline:
                raise RuntimeError("service did not take its bus name")
            time.sleep(0.01)

    def stdout(self):
        self._stdout.flush()
        return self.stdout_path.read_text(errors="replace")

    def log(self):
        return self.log_path.read_text(errors="replace") if self.log_path.exists() else ""

    def wait_log(self, holds, timeout=5.0):
        """The log once holds(log) is true, or after `timeout`: the log is
        written by the service's own thread, a little after the call that
        logged. Returns the log as last read."""
        deadline = time.monotonic() + timeout
        while not holds(text := self.log()) and time.monotonic() < deadline:
            time.sleep(0.05)
        return text

    def msgid(self):
        for line in self.stdout().splitlines():
            if line.startswith("msgget ok ,msgid = "):
                return int(line.rsplit("=", 1)[1])
        return None

    def stop(self):
        stop_process(self.proc)
        self._stdout.close()


class Client:
    """A client connection with a proxy for the service's interface."""

    def __init__(self, connection):
        self.connection = connection
        self.object = connection.get_object(BUS_NAME, OBJECT_PATH, introspect=False, follow_name_owner_changes=True)
        self.fprint = dbus.Interface(self.object, INTERFACE)
        self.properties = dbus.Interface(self.object, PROPERTIES)
        self.signals = []
        connection.add_signal_receiver(self._on_signal, dbus_interface=INTERFACE, path=OBJECT_PATH,
                                       member_keyword="member")

    def _on_signal(self, *args, member=None):
        self.signals.append((str(member), tuple(args)))

    def get(self, name, timeout=3):
        return self.properties.Get(INTERFACE, name, timeout=timeout)

    def wait_for_signals(self, count, timeout=5.0):
        """Runs the main context until `count` signals have arrived or time is up."""
        context = GLib.MainContext.default()
        deadline = time.monotonic() + timeout
        while len(self.signals) < count and time.monotonic() < deadline:
            context.iteration(False) or time.sleep(0.005)
        return self.signals


class DBusMock:
    """A python-dbusmock template (polkitd, logind) on the private bus; `mock`
    is its org.freedesktop.DBus.Mock interface."""

    NAMES = {"polkitd": ("org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority"),
             "logind": ("org.freedesktop.login1", "/org/freedesktop/login1")}

    def __init__(self, harness, template):
        name, path = self.NAMES[template]
        env = {**os.environ, "DBUS_SYSTEM_BUS_ADDRESS": harness.bus.address}
        self.proc = subprocess.Popen(["/usr/bin/python3", "-m", "dbusmock", "--system", "--template", template],
                                     env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     preexec_fn=_die_with_parent)
        connection = harness.connect()
        deadline = time.monotonic() + START_TIMEOUT_S
        while not connection.name_has_owner(name):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"the {template} stand-in did not start")
            time.sleep(0.02)
        self.object = connection.get_object(name, path, introspect=False)
        self.mock = dbus.Interface(self.object, "org.freedesktop.DBus.Mock")

    def calls(self, member):
        return [args for _, name, args in self.mock.GetCalls() if name == member]

    def stop(self):
        stop_process(self.proc)


class Harness:
    """What a test receives: start services, connect clients; everything it
    started is stopped at the end of the test."""

    def __init__(self, workdir, activation_env=None):
        self.workdir = workdir
        self.bus = PrivateBus(activation_env)
        self.services = []
        self.connections = []
        self.activated_pids = set()
        self.mocks = []

    def connect(self):
        connection = self.bus.connect()
        self.connections.append(connection)
        return connection

    def start_service(self, logging=True, extra_env=None, extra_args=(), wait=True, workdir=None, wrapper=()):
        """Starts the service; `extra_env` reaches only the service process
        (for example a preloaded simulated sensor)."""
        service = Service(self.bus, workdir or self.workdir, logging, extra_env, extra_args, wrapper)
        self.services.append(service)
        if wait:
            service.wait_for_name(self.connect())
        return service

    def client(self):
        return Client(self.connect())

    def start_mock(self, template):
        """polkit ("polkitd") or logind ("logind") as a stand-in on this bus."""
        mock = DBusMock(self, template)
        self.mocks.append(mock)
        return mock

    def users_env(self, env=None):
        """`env` (the service's) made to know TEST_USERS by name."""
        return self.bus.users_env(env or {})

    def public_copy(self, path):
        """A copy of the file `path` that every user can read and run (the
        checkout may sit where only root can reach)."""
        public = self.bus.dir / "public"
        public.mkdir(mode=0o777, exist_ok=True)
        public.chmod(0o777)
        copy = public / Path(path).name
        shutil.copy(path, copy)
        copy.chmod(0o755)
        return copy

    def owner_pid(self):
        """Process id of the name's owner, or None; a service the bus started
        is remembered and stopped at the end of the test."""
        connection = self.connect()
        if not connection.name_has_owner(BUS_NAME):
            return None
        pid = int(connection.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                           "GetConnectionUnixProcessID", "s", (BUS_NAME,)))
        if not any(service.proc.pid == pid for service in self.services):
            self.activated_pids.add(pid)
        return pid

    def close(self):
        for mock in self.mocks:
            mock.stop()
        for service in self.services:
            service.stop()
        for pid in self.activated_pids:
            stop_pid(pid)
        for connection in self.connections:
            connection.close()
        self.bus.close()


@pytest.fixture
def harness(tmp_path):
    h = Harness(tmp_path)
    try:
        yield h
    finally:
        h.close()


@pytest.fixture
def service(harness):
    return harness.start_service()


@pytest.fixture
def client(harness, service):
    return harness.client()


# ---- translations ----

def with_build_translations(command):
    """`command` run where the programs look for their translations: the
    build tree's catalogues mounted over that directory in a private mount
    namespace (the installed ones, with --installed)."""
    if _installed:
        return command
    compiled = os.environ.get("VEKO_LOCALEDIR", "/usr/local/share/locale")
    built = Path(os.environ.get("VEKO_BUILD_DIR", "")) / "locale"
    script = 'mkdir -p "$0" && mount --bind "$1" "$0" && shift 2 && exec "$@"'
    return ["unshare", "--mount", "sh", "-c", script, compiled, str(built), "sh", *command]


GERMAN = {"LANGUAGE": "de", "LANG": "C.UTF-8", "LC_ALL": ""}


# ---- simulated sensors ----

def _pattern_image(length, seed):
    """Deterministic bytes standing in for a capture when fpgen is not built."""
    return bytes((i * 7 + seed * 13 + (i >> 5)) & 0xFF for i in range(length))


@pytest.fixture(scope="session")
def raw_images(tmp_path_factory):
    """One synthetic raw capture per product id, made by fpgen when it is
    built (VEKO_BUILD_DIR), otherwise a fixed byte pattern of the right size."""
    from simsensor import RAW_LENGTH
    images = {}
    fpgen = Path(os.environ.get("VEKO_BUILD_DIR", "")) / "tools" / "fpgen" / "fpgen"
    if os.environ.get("VEKO_BUILD_DIR") and os.access(fpgen, os.X_OK):
        out = tmp_path_factory.mktemp("raw")
        subprocess.run([str(fpgen), "--seeds", "7", "--impressions", "1", "--formats", "raw", str(out)],
                       check=True, stdout=subprocess.DEVNULL, timeout=60)
        for product in RAW_LENGTH:
            found = sorted(out.glob(f"*_{product:04x}_*.raw"))
            if found:
                images[product] = found[0].read_bytes()
    for product, length in RAW_LENGTH.items():
        images.setdefault(product, _pattern_image(length, product & 0xFF))
        assert len(images[product]) == length
    return images


@pytest.fixture
def simbus():
    """A simulated USB bus; add sensors with simbus.add(product, high_speed)
    before starting the service with simbus.env()."""
    from simsensor import SimBus
    bus = SimBus()
    try:
        yield bus
    finally:
        bus.close()
