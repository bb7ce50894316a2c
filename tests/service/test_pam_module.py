"""The PAM module through pamtester, as sudo would use it, against the real
service on a private bus and a simulated sensor touched by generated fingers:
alice and bob are enrolled, a third finger is nobody's."""
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

from conftest import SOURCE_DIR, Harness, installed_mode, pam_module_path
from enrol_session import OTHER, OWNER, THIRD, Session, generate_fingers, have_fpgen
from simsensor import PRODUCT_PLAIN, SimBus

sys.path.insert(0, str(SOURCE_DIR / "tools" / "demo"))
from demo_sensor import ENROL_TOUCHES, Feeder  # noqa: E402

BUILD = Path(os.environ.get("VEKO_BUILD_DIR", "")).resolve()


MODULE = pam_module_path()
CTL = Path("/usr/sbin/veko2547-ctl") if installed_mode() else BUILD / "tools" / "ctl" / "veko2547-ctl"
SUCCESS = "pamtester: successfully authenticated"
FAILURE = "pamtester: Authentication failure"
UNAVAILABLE = "pamtester: Authentication service cannot retrieve authentication info"

pytestmark = [pytest.mark.skipif(not MODULE.exists(), reason="the PAM module is not built"),
              pytest.mark.skipif(not shutil.which("pamtester"), reason="pamtester is not installed")]


def _private_mounts_work():
    probe = subprocess.run(["unshare", "--mount", "sh", "-c", "mount --bind /tmp /mnt"], capture_output=True)
    return probe.returncode == 0


PRIVATE_MOUNTS = _private_mounts_work()


def pamtester(tmp_path, stack, user, timeout=60):
    """Runs `pamtester SERVICE USER authenticate` with `stack` as the PAM
    service file. pamtester reads /etc/pam.d only: the file is shown there in
    a private mount namespace, or, where none can be made, put there under a
    unique name for this run. Returns (exit status, stdout, stderr, seconds)."""
    confdir = tmp_path / "pam.d"
    confdir.mkdir(exist_ok=True)
    service = f"veko2547-test-{os.getpid()}-{time.monotonic_ns()}"
    if PRIVATE_MOUNTS:
        (confdir / service).write_text(stack)
        script = 'mount --bind "$0" /etc/pam.d && exec pamtester "$1" "$2" authenticate'
        command = ["unshare", "--mount", "sh", "-c", script, str(confdir), service, user]
    else:
        Path("/etc/pam.d", service).write_text(stack)
        command = ["pamtester", service, user, "authenticate"]
    started = time.monotonic()
    try:
        run = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=timeout)
    finally:
        Path("/etc/pam.d", service).unlink(missing_ok=True)
    return run.returncode, run.stdout, run.stderr, time.monotonic() - started


def module_line(address, *options, control="required"):
    return f"auth {control} {MODULE} bus={address} {' '.join(options)}\n"


@pytest.fixture(scope="module")
def enrolled(tmp_path_factory):
    """A store with alice (finger 3) and bob (finger 4), and the impressions of fingers 3, 4 and 5."""
    if not have_fpgen():
        pytest.skip("fpgen is not built")
    fingers = {seed: images[PRODUCT_PLAIN] for seed, images in generate_fingers(
        tmp_path_factory.mktemp("fingers"), (OWNER, OTHER, THIRD), ENROL_TOUCHES + 8, (PRODUCT_PLAIN,)).items()}
    work = tmp_path_factory.mktemp("enrol")
    simbus, harness = SimBus(), Harness(work)
    try:
        session = Session(simbus, harness, PRODUCT_PLAIN)
        for user, seed in (("alice", OWNER), ("bob", OTHER)):
            session.client.signals.clear()
            assert session.enrol(user, "index", fingers[seed][:ENROL_TOUCHES])[1] == 0
    finally:
        harness.close()
        simbus.close()
    return work / "store", {"alice": fingers[OWNER][ENROL_TOUCHES:], "bob": fingers[OTHER][ENROL_TOUCHES:],
                            "nobody": fingers[THIRD]}


class Rig:
    def __init__(self, harness, service, sensor, feeder, tmp_path):
        self.harness, self.service, self.sensor, self.feeder, self.tmp = harness, service, sensor, feeder, tmp_path
        self.address = harness.bus.address
        self.client = harness.client()

    def state(self):
        return int(self.client.get("State"))

    def auth(self, user, *options, stack=None, timeout=60):
        return pamtester(self.tmp, stack or module_line(self.address, *options), user, timeout)


@pytest.fixture
def rig(simbus, harness, enrolled, tmp_path):
    sensor = simbus.add(PRODUCT_PLAIN)
    service = harness.start_service(extra_env=simbus.env())
    shutil.copytree(enrolled[0], service.store_root, dirs_exist_ok=True)
    feeder = Feeder(sensor, pause=0.0)
    feeder.start()
    try:
        yield Rig(harness, service, sensor, feeder, tmp_path)
    finally:
        feeder.stop()


def test_only_the_users_own_finger_authenticates(rig, enrolled):
    fingers = enrolled[1]
    rig.feeder.present(fingers["alice"])
    code, out, err, _ = rig.auth("alice")
    assert (code, out.splitlines()) == (0, ["Place your finger on the fingerprint reader", SUCCESS]), err
    assert rig.state() == 1

    # Bob's finger matches bob, and never alice: every try is a failure.
    rig.feeder.present(fingers["bob"])
    assert rig.auth("bob")[0] == 0 and rig.state() == 1
    touches = rig.feeder.touches
    code, out, err, _ = rig.auth("alice")
    assert (code, err.splitlines()) == (1, ["No match, try again"] * 2 + ["Fingerprint not recognised", FAILURE])
    assert rig.feeder.touches - touches >= 3
    assert rig.state() == 1

    rig.feeder.present(fingers["nobody"])
    touches = rig.feeder.touches
    code, out, err, _ = rig.auth("alice", "max-tries=4")
    assert (code, err.splitlines()[-1]) == (1, FAILURE)
    assert err.count("No match, try again") == 3 and rig.feeder.touches - touches >= 4
    assert rig.state() == 1


def test_a_reader_busy_with_an_enrolment_is_said_at_once_and_the_enrolment_completes(rig, enrolled):
    enrolling = rig.harness.client()
    enrolling.fprint.Claim("carol", True)
    rig.feeder.present([])
    enrolling.fprint.Enroll("carol", "thumb")
    assert rig.sensor.wait_for(lambda s: s.capturing is not None)
    code, out, err, seconds = rig.auth("alice")
    assert (code, out, err.splitlines()) == (1, "", ["Fingerprint reader is busy", UNAVAILABLE])
    assert seconds < 1
    assert rig.state() == 2
    rig.feeder.present(enrolled[1]["nobody"])
    enrolling.wait_for_signals(1, timeout=0)
    deadline = time.monotonic() + 20
    while not [a for m, a in enrolling.signals if m == "EnrollStatus" and a[1] != 2] and time.monotonic() < deadline:
        enrolling.wait_for_signals(len(enrolling.signals) + 1, timeout=0.2)
    assert [tuple(a) for m, a in enrolling.signals if m == "EnrollStatus"][-1] == ("carol", 0, "")
    assert (rig.service.store_root / "carol" / "thumb.Data").exists()


def test_one_finger_under_two_accounts_authenticates_both(rig, enrolled):
    store = rig.service.store_root
    shutil.copy(store / "alice" / "index.Data", store / "bob" / "alices-too.Data")
    rig.feeder.present(enrolled[1]["alice"])
    for user in ("alice", "bob"):
        code, out, err, _ = rig.auth(user)
        assert (code, out.splitlines()[-1]) == (0, SUCCESS), (user, err)
    for user in ("alice", "bob"):
        result = subprocess.run([str(CTL), "--user", user, "verify"], capture_output=True, text=True, timeout=60,
                                env={**os.environ, "DBUS_SYSTEM_BUS_ADDRESS": rig.address})
        assert (result.returncode, result.stdout.splitlines()[-1]) == (0, f'match: user "{user}"'), result.stderr
    assert rig.state() == 1


def test_the_time_out_holds_for_the_whole_authentication_when_the_service_hangs(rig):
    pid = rig.service.proc.pid
    # Stopped before the first call: nothing is claimed.
    os.kill(pid, signal.SIGSTOP)
    try:
        code, out, err, seconds = rig.auth("alice", "timeout=2")
    finally:
        os.kill(pid, signal.SIGCONT)
    assert (code, err.strip()) == (1, UNAVAILABLE) and seconds < 2 + 0.8
    assert rig.state() == 1

    # Stopped while it waits for a touch: the time-out, then at most a second to stop and release.
    rig.feeder.present([])
    result = {}
    worker = threading.Thread(target=lambda: result.update(run=rig.auth("alice", "timeout=3")))
    worker.start()
    assert rig.sensor.wait_for(lambda s: s.capturing is not None, 10)
    os.kill(pid, signal.SIGSTOP)
    try:
        worker.join(30)
    finally:
        os.kill(pid, signal.SIGCONT)
    code, out, err, seconds = result["run"]
    assert (code, err.splitlines()) == (1, ["Fingerprint reader timed out", UNAVAILABLE])
    assert seconds < 3 + 1 + 0.8
    # Continued, the service stops the capture and frees the device.
    deadline = time.monotonic() + 2
    while rig.state() != 1 and time.monotonic() < deadline:
        time.sleep(0.02)
    assert rig.state() == 1 and rig.sensor.wait_for(lambda s: s.capturing is None, 2)


def test_unavailable_at_once_without_bus_service_sensor_or_finger(harness, enrolled, tmp_path):
    for address in ("unix:path=/nonexistent/socket", harness.bus.address):
        code, out, err, seconds = pamtester(tmp_path, module_line(address), "alice")
        assert (code, out, err.strip()) == (1, "", UNAVAILABLE) and seconds < 1
    # The service without a sensor; then a user without fingers.
    service = harness.start_service()
    shutil.copytree(enrolled[0], service.store_root, dirs_exist_ok=True)
    client = harness.client()
    for user in ("alice", "carol"):
        code, out, err, seconds = pamtester(tmp_path, module_line(harness.bus.address), user)
        assert (code, out, err.strip()) == (1, "", UNAVAILABLE) and seconds < 1
        assert client.get("State") == 1
    # Carol's calls, up to the State query after them.
    after_carol = service.wait_log(lambda log: "property=State" in log.partition("id=carol")[2]).partition("id=carol")
    assert after_carol[1] and "property=State" in after_carol[2]
    assert "Claim" not in after_carol[2]


def test_unplugging_the_sensor_during_verification_fails_and_releases(rig):
    rig.feeder.present([])
    result = {}
    worker = threading.Thread(target=lambda: result.update(run=rig.auth("alice", "timeout=20")))
    worker.start()
    assert rig.sensor.wait_for(lambda s: s.capturing is not None, 10)
    unplugged = time.monotonic()
    rig.sensor.unplug()
    worker.join(30)
    code, out, err, _ = result["run"]
    assert (code, err.splitlines()) == (1, ["Fingerprint reader is not available", UNAVAILABLE])
    assert time.monotonic() - unplugged < 10
    assert rig.state() == 1


def test_nobody_touching_times_out_and_releases_the_sensor(rig):
    rig.feeder.present([])
    code, out, err, seconds = rig.auth("alice", "timeout=2")
    assert (code, err.splitlines()) == (1, ["Fingerprint reader timed out", UNAVAILABLE])
    assert 2 <= seconds < 6
    assert rig.sensor.capturing is None and rig.state() == 1


def pam_auth_update_common_auth(tmp_path):
    """common-auth as pam-auth-update writes it with the shipped profile
    enabled, made in a private mount namespace over copies of /etc/pam.d,
    the profiles and pam-auth-update's state: the real ones stay untouched."""
    places = {"/etc/pam.d": tmp_path / "etc-pam.d", "/usr/share/pam-configs": tmp_path / "pam-configs",
              "/var/lib/pam": tmp_path / "var-lib-pam"}
    for real, copy in places.items():
        shutil.copytree(real, copy, symlinks=True)
    shutil.copy(SOURCE_DIR / "pam" / "veko2547.pam-config", places["/usr/share/pam-configs"] / "veko2547")
    mounts = " && ".join(f"mount --bind {copy} {real}" for real, copy in places.items())
    subprocess.run(["unshare", "--mount", "sh", "-c", mounts + " && pam-auth-update --force --enable veko2547"],
                   check=True, capture_output=True, env={**os.environ, "DEBIAN_FRONTEND": "noninteractive"})
    return (places["/etc/pam.d"] / "common-auth").read_text()


@pytest.mark.skipif(not (PRIVATE_MOUNTS and shutil.which("pam-auth-update") and os.path.isdir("/var/lib/pam")),
                    reason="needs pam-auth-update and private mount namespaces")
def test_the_profile_enabled_by_pam_auth_update(rig, enrolled):
    """Debian's common-auth with the profile enabled: the finger ends the
    stack, otherwise the password decides."""
    common_auth = pam_auth_update_common_auth(rig.tmp)
    auth = [line for line in common_auth.splitlines() if line.startswith("auth")]
    assert auth[0].split()[:3] == ["auth", "[success=2", "default=ignore]"] and "pam_veko2547.so" in auth[0]
    assert "pam_unix.so" in auth[1]
    stack = common_auth.replace("pam_veko2547.so", f"{MODULE} bus={rig.address}")
    rig.feeder.present(enrolled[1]["alice"])
    code, out, err, _ = rig.auth("alice", stack=stack)
    assert (code, out.splitlines()[-1]) == (0, SUCCESS), err
    # No finger of carol: straight on to the password, which nobody gives.
    code, out, err, seconds = rig.auth("carol", stack=stack)
    assert code == 1 and err.endswith("Password: " + FAILURE + "\n"), err
    assert "fingerprint" not in out + err and seconds < 5
    assert rig.state() == 1


@pytest.mark.skipif(installed_mode(), reason="installs the build tree")
def test_installed_where_libpam_and_pam_auth_update_look(tmp_path):
    subprocess.run(["cmake", "--install", str(BUILD), "--prefix", "/usr"], check=True, capture_output=True,
                   env={**os.environ, "DESTDIR": str(tmp_path)})
    arch = subprocess.run(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"], capture_output=True, text=True)
    installed = tmp_path / "usr/lib" / arch.stdout.strip() / "security" / "pam_veko2547.so"
    assert installed.exists()
    assert (tmp_path / "usr/share/pam-configs/veko2547").read_text() == (
        SOURCE_DIR / "pam" / "veko2547.pam-config").read_text()
    symbols = subprocess.run(["nm", "-D", "--defined-only", str(installed)], capture_output=True, text=True, check=True)
    assert sorted(line.split()[-1] for line in symbols.stdout.splitlines()) == ["pam_sm_authenticate", "pam_sm_setcred"]
