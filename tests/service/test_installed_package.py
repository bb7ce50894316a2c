"""The Debian packages as a distribution runs them: installed with apt-get,
the installed service started by the bus on its first call from the installed
activation file, enrolling and verifying on a simulated sensor with the
installed library; an upgrade and a remove keep the enrolled fingers, a
reinstall verifies them again, and a purge leaves nothing of the package.

This installs and purges packages on this machine (root): it runs only from
tests/package/install-test, with --installed --debs DIR, and refuses to run
where the packages are installed already or a finger store exists.
The steps depend on each other: run with -x.
"""
import contextlib
import os
import re
import stat
import subprocess
from pathlib import Path

import pytest

from conftest import INSTALLED_SVR, Harness, installed_mode, process_exists
from enrol_session import THIRD, Session, generate_fingers, have_fpgen
from simsensor import PRODUCT_PLAIN, SimBus

PACKAGES = ("veko2547", "libqvalgdll1", "libqvalgdll-dev")
STORE = Path("/usr/share/deepin-authentication/modes/veko2547")
FRAMEWORK_DIR = Path("/usr/share/deepin-authentication")
LOG = Path("/var/log/vekoidfp2547.log")
LOG_FLAG = Path("/var/log/veko-driver.conf")
CONFIG = Path("/etc/veko2547/veko2547.conf")
UNIT = Path("/lib/systemd/system/veko2547_svr.service")
CTL = Path("/usr/sbin/veko2547-ctl")
ENROL_CAPTURES = 16

pytestmark = [
    pytest.mark.skipif(not installed_mode(), reason="needs --installed"),
    pytest.mark.skipif(not have_fpgen(), reason="fpgen is not built"),
]


def run(*args, env=None, check=True):
    result = subprocess.run(args, capture_output=True, text=True, timeout=600,
                            env={**os.environ, "DEBIAN_FRONTEND": "noninteractive", **(env or {})})
    if check and result.returncode != 0:
        pytest.fail(f"{' '.join(args)} failed ({result.returncode}):\n{result.stdout}\n{result.stderr}")
    return result


def apt_get(*args):
    return run("apt-get", "-y", "--no-install-recommends", *args)


def package_status(package):
    """"ii" installed, "rc" removed with its configuration kept, "gone" when
    nothing of it is installed (unknown to dpkg, or known as not installed)."""
    result = run("dpkg-query", "-W", "-f=${db:Status-Abbrev}", package, check=False)
    status = result.stdout.strip()
    return "gone" if result.returncode != 0 or status[1:2] == "n" else status


def service_processes():
    """Process ids of every running installed service program."""
    pids = []
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                if os.readlink(entry / "exe") == str(INSTALLED_SVR) and process_exists(int(entry.name)):
                    pids.append(int(entry.name))
            except OSError:
                pass
    return pids


def log_lines():
    return LOG.read_text(errors="replace").splitlines() if LOG.exists() else []


def mapped_files(pid):
    with open(f"/proc/{pid}/maps") as maps:
        return {line.split()[-1] for line in maps if "/" in line}


class System:
    """What the steps share: the packages, generated fingers and what to restore."""

    def __init__(self, debs, workdir):
        self.debs = sorted(str(p) for p in Path(debs).resolve().glob("*.deb") if "-dbgsym_" not in p.name)
        assert sorted(Path(d).name.split("_")[0] for d in self.debs) == sorted(PACKAGES), self.debs
        self.workdir = workdir
        fingers = generate_fingers(workdir / "fingers", (THIRD,), ENROL_CAPTURES + 8, (PRODUCT_PLAIN,))
        self.owner = fingers[THIRD][PRODUCT_PLAIN]
        self.framework_existed = FRAMEWORK_DIR.exists()
        self.flag_created = False
        self.files = []
        self.enrolled = None

    def install(self, *options):
        apt_get("install", *options, *self.debs)

    @contextlib.contextmanager
    def bus(self, name):
        """A private bus that starts the installed service on the first call,
        with one simulated sensor attached before; everything is stopped on leaving."""
        simbus = SimBus()
        sensor = simbus.add(PRODUCT_PLAIN)
        workdir = self.workdir / name
        workdir.mkdir()
        harness = Harness(workdir, activation_env=simbus.env())
        try:
            yield sensor, harness
        finally:
            harness.close()
            simbus.close()

    def ctl_status(self, harness):
        """The installed client's status call; returns the service's process id."""
        result = run(str(CTL), "status", env={"DBUS_SYSTEM_BUS_ADDRESS": harness.bus.address})
        assert "Veko2547" in result.stdout, result.stdout
        return harness.owner_pid()


@pytest.fixture(scope="module")
def system(request, tmp_path_factory):
    debs = request.config.getoption("--debs")
    if not debs:
        pytest.skip("needs --debs DIR")
    if os.geteuid() != 0:
        pytest.skip("installs packages: root only")
    # Never run where the purge at the end would delete somebody's fingers.
    installed = [p for p in PACKAGES if package_status(p) != "gone"]
    if installed or STORE.exists() or service_processes():
        pytest.fail(f"refusing to run: installed {installed}, store present {STORE.exists()}")
    s = System(debs, tmp_path_factory.mktemp("installed"))
    try:
        yield s
    finally:
        run("apt-get", "-y", "purge", *PACKAGES, check=False)
        if s.flag_created:
            LOG_FLAG.unlink(missing_ok=True)


def test_install_places_the_files_and_starts_nothing(system):
    system.install()
    for package in PACKAGES:
        assert package_status(package) == "ii", package
    system.files = [f for f in run("dpkg", "-L", *PACKAGES).stdout.split() if f != "/."]
    assert service_processes() == []
    assert not LOG.exists()
    mode = STORE.stat().st_mode
    assert stat.S_ISDIR(mode) and stat.S_IMODE(mode) == 0o700 and STORE.stat().st_uid == 0
    assert list(STORE.iterdir()) == []
    # The packages ship the best profile; the program's own default stays 1.
    assert CONFIG.read_text().count("\nprofile=2") == 1
    # The PAM module is in place, but no PAM stack uses it until the administrator enables it.
    multiarch = run("dpkg-architecture", "-qDEB_HOST_MULTIARCH").stdout.strip()
    assert Path(f"/lib/{multiarch}/security/pam_veko2547.so").is_file()
    assert Path("/usr/share/pam-configs/veko2547").is_file()
    assert not any("pam_veko2547" in p.read_text() for p in Path("/etc/pam.d").glob("common-*"))
    result = run("systemd-analyze", "verify", str(UNIT), check=False)
    assert result.returncode == 0 and result.stderr.strip() == "", result.stderr


def test_the_bus_starts_the_installed_service_which_enrols_and_verifies(system):
    with system.bus("first") as (sensor, harness):
        # The installed client's first call starts the service through the bus.
        pid = system.ctl_status(harness)
        assert service_processes() == [pid]
        multiarch = run("dpkg-architecture", "-qDEB_HOST_MULTIARCH").stdout.strip()
        assert f"/usr/lib/{multiarch}/libQVAlgDll.so.1.5.17" in mapped_files(pid)
        # Without the flag file the log holds the start's date line and nothing of the calls.
        assert all(re.fullmatch(r"\d{4}/\d\d/\d\d \d\d:\d\d:\d\d", line) for line in log_lines()), log_lines()
        if not LOG_FLAG.exists():
            LOG_FLAG.write_text("")
            system.flag_created = True

        s = Session(None, harness, PRODUCT_PLAIN, sensor=sensor, activated=True)
        assert s.enrol("alice", "thumb", system.owner[:ENROL_CAPTURES]) == ("alice", 0, {}), s.statuses("EnrollStatus")
        stored = STORE / "alice" / "thumb.Data"
        assert stored.stat().st_size == 28000 and stat.S_IMODE(stored.stat().st_mode) == 0o600
        assert s.verify(system.owner[ENROL_CAPTURES:]) == ("alice", 0, {}), s.statuses("VerifyStatus")
        system.enrolled = stored.read_bytes()
        assert "verify ok alice" in "\n".join(log_lines())


def test_upgrade_and_remove_keep_the_fingers_and_a_reinstall_verifies_them(system):
    assert system.enrolled is not None
    stored = STORE / "alice" / "thumb.Data"

    # A running service is stopped before its binary is replaced or removed.
    with system.bus("upgrade") as (sensor, harness):
        pid = system.ctl_status(harness)
        system.install("--reinstall")
        assert not process_exists(pid)
        assert stored.read_bytes() == system.enrolled
        assert stat.S_IMODE(STORE.stat().st_mode) == 0o700

        pid = system.ctl_status(harness)
        apt_get("remove", *PACKAGES)
        assert not process_exists(pid) and service_processes() == []
    # The setting file is a conffile: dpkg keeps it, and the service's package, until a purge.
    assert [package_status(p) for p in PACKAGES] == ["rc", "gone", "gone"]
    assert not INSTALLED_SVR.exists() and not CTL.exists()
    assert stored.read_bytes() == system.enrolled
    assert LOG.exists() and CONFIG.exists()

    system.install()
    with system.bus("reinstalled") as (sensor, harness):
        s = Session(None, harness, PRODUCT_PLAIN, sensor=sensor, activated=True)
        assert s.verify(system.owner[ENROL_CAPTURES:]) == ("alice", 0, {}), s.statuses("VerifyStatus")


def test_purge_leaves_nothing_of_the_package(system):
    assert system.files
    apt_get("purge", *PACKAGES)
    for package in PACKAGES:
        assert package_status(package) == "gone", package
    assert service_processes() == []
    assert not STORE.exists() and not LOG.exists() and not CONFIG.parent.exists()
    if not system.framework_existed:
        assert not FRAMEWORK_DIR.exists()
    # Whatever is left of the file list is a directory another package owns.
    left = [f for f in system.files if os.path.lexists(f)
            and not (os.path.isdir(f) and run("dpkg-query", "-S", f, check=False).returncode == 0)]
    assert left == []
    assert not list(Path("/var/lib/dpkg/info").glob("veko2547.*"))
    assert not list(Path("/var/lib/dpkg/info").glob("libqvalgdll*"))
