"""veko2547-ctl against the real service on a private bus, with a simulated
sensor that touches itself with generated fingers."""
import json
import os
import pty
import select
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

from conftest import GERMAN, SOURCE_DIR, _die_with_parent, installed_mode, stop_process, with_build_translations
from enrol_session import OTHER, OWNER, generate_fingers
from simsensor import PRODUCT_PLAIN

BUILD = Path(os.environ.get("VEKO_BUILD_DIR", ""))
CTL = Path("/usr/sbin/veko2547-ctl") if installed_mode() else BUILD / "tools" / "ctl" / "veko2547-ctl"
FPGEN = BUILD / "tools" / "fpgen" / "fpgen"

sys.path.insert(0, str(SOURCE_DIR / "tools" / "demo"))
from demo_sensor import ENROL_TOUCHES, Feeder  # noqa: E402

pytestmark = pytest.mark.skipif(not os.access(CTL, os.X_OK), reason="veko2547-ctl is not built")

needs_fingers = pytest.mark.skipif(not os.access(FPGEN, os.X_OK), reason="fpgen is not built")


def ctl_env(address):
    env = dict(os.environ)
    env["DBUS_SYSTEM_BUS_ADDRESS"] = address
    return env


def run_ctl(address, *args, timeout=60):
    return subprocess.run([str(CTL), *args], env=ctl_env(address), capture_output=True, text=True, timeout=timeout)


@pytest.fixture(scope="module")
def fingers(tmp_path_factory):
    images = generate_fingers(tmp_path_factory.mktemp("fingers"), (OWNER, OTHER), 24, (PRODUCT_PLAIN,))
    return {"owner": images[OWNER][PRODUCT_PLAIN], "other": images[OTHER][PRODUCT_PLAIN]}


@pytest.fixture
def rig(simbus, harness):
    """The service with one simulated sensor and a feeder that touches it."""
    sensor = simbus.add(PRODUCT_PLAIN)
    service = harness.start_service(extra_env=simbus.env())
    feeder = Feeder(sensor, pause=0.0)
    feeder.start()
    try:
        yield harness, service, sensor, feeder
    finally:
        feeder.stop()


def state(address):
    result = run_ctl(address, "status")
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()[1]


@pytest.mark.parametrize("args, message", [
    ([], "no command given"),
    (["frobnicate"], "unknown command 'frobnicate'"),
    (["enroll", "alice"], "enroll: missing arguments"),
    (["list"], "list: missing arguments"),
    (["status", "extra"], "status: too many arguments"),
    (["rename", "alice", "a", "b", "c"], "rename: too many arguments"),
    (["enroll", "alice", "left/escape"], "finger 'left/escape' must not contain '/'"),
    (["list", ".hidden"], "must not start with '.'"),
    (["delete", "x" * 59], "longer than 58 bytes"),
    (["--timeout", "soon", "status"], "--timeout needs a positive whole number"),
    (["--attempts", "0", "verify"], "--attempts needs a positive whole number"),
    (["verify", "--timeout"], "--timeout needs a value"),
    (["--colour", "status"], "unknown option --colour"),
    (["--user", "a/b", "verify"], "--user: user 'a/b' must not contain '/'"),
    (["--timeouts=3", "status"], "unknown option --timeouts=3"),
])
def test_argument_errors_exit_2_with_one_line_before_any_call(args, message):
    # No bus at all: argument errors must be found before connecting.
    result = run_ctl("unix:path=/nonexistent/socket", *args)
    assert result.returncode == 2
    assert result.stderr.startswith("veko2547-ctl: ") and result.stderr.endswith(" (see veko2547-ctl --help)\n")
    assert message in result.stderr and result.stderr.count("\n") == 1
    assert result.stdout == ""


def test_help_lists_every_command_and_options_after_the_command():
    result = run_ctl("unix:path=/nonexistent/socket", "--help")
    assert result.returncode == 0
    for word in ("status", "list USER", "enroll USER FINGER", "verify [FINGER]", "delete USER [FINGER]",
                 "rename USER FINGER NEWNAME", "--timeout", "Exit status"):
        assert word in result.stdout
    # "--" ends the options, so a name that looks like one is still a name.
    assert run_ctl("unix:path=/nonexistent/socket", "list", "--", "--help").stderr.startswith(
        "veko2547-ctl: cannot reach the system bus")


def test_the_client_speaks_the_users_language():
    def ctl(*args, **env):
        return subprocess.run(with_build_translations([str(CTL), *args]), capture_output=True, text=True,
                              timeout=30, env={**os.environ, "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/nonexistent",
                                               **env})
    german = ctl("--help", **GERMAN)
    assert german.stdout.startswith("Aufruf: veko2547-ctl [OPTIONEN] BEFEHL [ARGUMENTE]\n")
    assert "Rückgabewert: 0 Erfolg oder Übereinstimmung" in german.stdout
    assert ctl("enroll", "alice", "a/b", **GERMAN).stderr == (
        "veko2547-ctl: enroll: Finger „a/b“ darf weder „/“ noch Steuerzeichen enthalten "
        "(siehe veko2547-ctl --help)\n")
    assert ctl("status", **GERMAN).stderr.startswith("veko2547-ctl: der Systembus ist nicht erreichbar")
    # Without a language asked for, and for a language without a catalogue: English.
    for env in ({}, {**GERMAN, "LANGUAGE": "xx"}):
        assert ctl("--help", **env).stdout.startswith("usage: veko2547-ctl [OPTIONS] COMMAND [ARGS]\n")


def test_missing_bus_and_missing_service_are_errors(harness):
    result = run_ctl("unix:path=/nonexistent/socket", "status")
    assert result.returncode == 2
    assert result.stderr.startswith("veko2547-ctl: cannot reach the system bus")
    result = run_ctl(harness.bus.address, "list", "alice")
    assert (result.returncode, result.stderr) == (
        2, "veko2547-ctl: list: the fingerprint service is not running (no owner of com.vekoid.fprint on the system bus)\n")


def test_status_and_finger_management(harness, service):
    address = harness.bus.address
    result = run_ctl(address, "status")
    assert (result.returncode, result.stdout) == (0, "Name: Veko2547\nState: 1 (free)\nType: 2\nCapability: 1\n")

    result = run_ctl(address, "list", "bob")
    assert (result.returncode, result.stdout, result.stderr) == (0, "", 'user "bob" has no enrolled fingers\n')

    user = service.store_root / "bob"
    user.mkdir()
    for name in ("index", "thumb"):
        (user / f"{name}.Data").write_bytes(bytes(28000))
    result = run_ctl(address, "list", "bob")
    assert result.returncode == 0 and sorted(result.stdout.split()) == ["index", "thumb"]

    assert run_ctl(address, "rename", "bob", "index", "ring").returncode == 0
    assert sorted(p.name for p in user.iterdir()) == ["ring.Data", "thumb.Data"]
    # Renaming a missing finger, or onto an existing one, changes nothing.
    for args in (("rename", "bob", "index", "pinky"), ("rename", "bob", "ring", "thumb")):
        result = run_ctl(address, *args)
        assert result.returncode == 2 and result.stderr.startswith("veko2547-ctl: rename: ")
        assert len(result.stderr.splitlines()) == 1
    assert sorted(p.name for p in user.iterdir()) == ["ring.Data", "thumb.Data"]

    result = run_ctl(address, "delete", "bob", "pinky")
    assert (result.returncode, result.stderr) == (2, 'veko2547-ctl: delete: user "bob" has no finger "pinky"\n')
    assert run_ctl(address, "delete", "bob", "ring").returncode == 0
    assert [p.name for p in user.iterdir()] == ["thumb.Data"]
    result = run_ctl(address, "delete", "bob")
    assert (result.returncode, result.stdout) == (0, 'deleted all fingers of user "bob"\n')
    assert not list(user.glob("*.Data"))


def test_enroll_without_a_sensor_fails_and_releases_the_device(harness, service):
    result = run_ctl(harness.bus.address, "enroll", "alice", "thumb")
    assert (result.returncode, result.stderr) == (2, "veko2547-ctl: enroll: no fingerprint sensor found\n")
    result = run_ctl(harness.bus.address, "verify")
    assert (result.returncode, result.stderr) == (2, "veko2547-ctl: verify: no fingerprint sensor found\n")
    assert state(harness.bus.address) == "State: 1 (free)"


@needs_fingers
def test_enroll_verify_and_refusals_through_the_client(rig, fingers):
    harness, service, sensor, feeder = rig
    address = harness.bus.address

    feeder.present(fingers["owner"][:ENROL_TOUCHES])
    result = run_ctl(address, "enroll", "alice", "thumb")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == 'enrolling finger "thumb" of user "alice"'
    assert [line for line in lines if line.startswith("progress")] == [f"progress {p}%" for p in range(10, 101, 10)]
    assert lines[-1] == 'enrolled finger "thumb" of user "alice"'
    assert (service.store_root / "alice" / "thumb.Data").stat().st_size == 28000
    assert state(address) == "State: 1 (free)"

    # Refused by the service before any touch: a clear error, the device released.
    result = run_ctl(address, "enroll", "alice", "thumb")
    assert (result.returncode, result.stderr) == (2, 'veko2547-ctl: enroll: user "alice" already has a finger "thumb"\n')
    assert state(address) == "State: 1 (free)"

    feeder.present(fingers["owner"][ENROL_TOUCHES:])
    result = run_ctl(address, "verify")
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.splitlines()[-1] == 'match: user "alice"'

    feeder.present(fingers["other"])
    touches = feeder.touches
    result = run_ctl(address, "--attempts", "2", "verify")
    assert result.returncode == 1, result.stdout + result.stderr
    assert result.stdout.splitlines()[-2:] == ["no match (1 of 2), touch again", "no match"]
    assert feeder.touches - touches >= 2  # the service may ask for one more before the stop

    # Only fingers of the given name are compared: none is called "index".
    feeder.present(fingers["owner"][ENROL_TOUCHES:])
    result = run_ctl(address, "verify", "index")
    assert result.returncode == 1, result.stdout + result.stderr
    assert state(address) == "State: 1 (free)"
    assert "verify thread exit" in service.wait_log(lambda log: "verify thread exit" in log)


@needs_fingers
def test_enrolment_on_a_terminal_draws_a_moving_bar(rig, fingers):
    harness, service, sensor, feeder = rig
    feeder.present(fingers["owner"][:ENROL_TOUCHES])
    leader, follower = pty.openpty()
    proc = subprocess.Popen([str(CTL), "enroll", "carol", "index"], env=ctl_env(harness.bus.address),
                            stdout=follower, stderr=follower, close_fds=True)
    os.close(follower)
    output = b""
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        ready, _, _ = select.select([leader], [], [], 0.2)
        if ready:
            try:
                chunk = os.read(leader, 4096)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
        elif proc.poll() is not None:
            break
    os.close(leader)
    assert proc.wait(10) == 0, output
    text = output.decode()
    # One line redrawn in place: each step starts with a carriage return.
    assert "\r[" + "-" * 30 + "]   0%  touch the sensor" in text
    assert "\r[" + "#" * 15 + "-" * 15 + "]  50%  lift your finger and touch again" in text
    assert "\r[" + "#" * 30 + "] 100%  done" in text
    assert "progress 10%" not in text


@needs_fingers
@pytest.mark.parametrize("command, member", [(["verify"], "VerifyStatus"), (["enroll", "dave", "thumb"], "EnrollStatus")])
def test_interrupt_while_waiting_for_a_touch_leaves_the_service_idle(rig, fingers, command, member):
    harness, service, sensor, feeder = rig
    address = harness.bus.address
    proc = subprocess.Popen([str(CTL), *command], env=ctl_env(address), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    assert sensor.wait_for(lambda s: s.capturing is not None, 15)
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=20)
    assert proc.returncode == 2
    assert err.startswith("veko2547-ctl: interrupted; ")
    # The capture ended with the service's stop signal (sent to the client
    # alone) and the device is free.
    stop = {"VerifyStatus": "VerifyStatus  2 0", "EnrollStatus": "EnrollStatus dave 1 3"}[member]
    assert stop in service.wait_log(lambda log: stop in log)
    assert state(address) == "State: 1 (free)"
    assert not (service.store_root / "dave").exists()
    # And the next client is served at once.
    feeder.present(fingers["owner"][:ENROL_TOUCHES])
    assert run_ctl(address, "enroll", "erin", "thumb").returncode == 0


def test_timeout_stops_a_verification_nobody_touches(harness, simbus):
    sensor = simbus.add(PRODUCT_PLAIN)
    harness.start_service(extra_env=simbus.env())
    started = time.monotonic()
    result = run_ctl(harness.bus.address, "--timeout", "2", "verify")
    assert result.returncode == 2
    assert result.stderr == "veko2547-ctl: timed out: no answer from the sensor for 2 s; verification stopped\n"
    assert time.monotonic() - started < 15
    assert sensor.capturing is None
    assert state(harness.bus.address) == "State: 1 (free)"


def ctl_against_a_stand_in(harness, tmp_path, script, *args):
    """Runs the client against a stand-in service that plays `script`
    (fake_fprint_service.py)."""
    fake = subprocess.Popen([sys.executable, str(Path(__file__).parent / "fake_fprint_service.py"),
                             harness.bus.address, json.dumps(script), str(tmp_path / "calls.jsonl")],
                            preexec_fn=_die_with_parent)
    try:
        connection = harness.connect()
        deadline = time.monotonic() + 10
        while not connection.name_has_owner("com.vekoid.fprint"):
            assert fake.poll() is None and time.monotonic() < deadline, "the stand-in did not start"
            time.sleep(0.01)
        return run_ctl(harness.bus.address, *args)
    finally:
        stop_process(fake)


def test_only_the_service_owners_signals_count(harness, tmp_path):
    # A stand-in service answers the first touch with "no match"; then a match
    # naming root comes from another connection, sent to everybody and to each
    # connection, the client's own included.
    script = {"fingers": ["thumb"], "verify": [{"after": [["", 3, '{"subcode":3}']], "forged": [["root", 0, ""]]}]}
    result = ctl_against_a_stand_in(harness, tmp_path, script, "--attempts", "2", "--timeout", "2", "verify")
    assert "no match (1 of 2), touch again" in result.stdout
    assert "match: user" not in result.stdout
    assert result.returncode == 2 and "timed out" in result.stderr


def test_statuses_before_the_reply_to_verify_belong_to_an_earlier_capture(harness, tmp_path):
    # The end of a capture stopped as the verification starts arrives before
    # Verify's reply: it is not this verification's result.
    script = {"fingers": ["thumb"], "verify": [{"before_reply": [["", 2, '{"subcode":1}']],
                                                "after": [["alice", 0, ""]]}]}
    result = ctl_against_a_stand_in(harness, tmp_path, script, "--timeout", "5", "verify")
    assert (result.returncode, result.stdout.splitlines()[-1]) == (0, 'match: user "alice"'), result.stderr


def test_a_reader_in_use_by_another_program_is_refused_at_once(harness, service):
    holder = harness.client()
    holder.fprint.Claim("alice", True)
    for command in (["verify"], ["enroll", "bob", "thumb"]):
        started = time.monotonic()
        result = run_ctl(harness.bus.address, *command)
        assert (result.returncode, result.stderr) == (
            2, f"veko2547-ctl: {command[0]}: the fingerprint reader is in use by another program\n")
        assert time.monotonic() - started < 2
    # Nothing of the holder's was released or stopped.
    assert state(harness.bus.address) == "State: 2 (claimed)"
    assert "claimed=0" not in service.log()


@needs_fingers
def test_touches_not_taken_are_told_and_the_time_out_says_why(rig, fingers):
    harness, service, sensor, feeder = rig
    address = harness.bus.address
    feeder.present([bytes([0xF0]) * len(fingers["owner"][0])])
    result = run_ctl(address, "--timeout", "2", "enroll", "gina", "thumb")
    retries = result.stdout.splitlines().count("touch not usable: lift and place the finger again")
    assert retries >= 1, result.stdout
    assert (result.returncode, result.stderr) == (
        2, f"veko2547-ctl: timed out: no touch taken for 2 s ({retries} touch{'es' if retries > 1 else ''} not usable);"
           " enrolment stopped\n")

    # Two fingers in turn: the second never joins the first.
    feeder.present([fingers["owner"][0], fingers["other"][0]])
    result = run_ctl(address, "--timeout", "2", "enroll", "gina", "thumb")
    lines = result.stdout.splitlines()
    assert lines[:3] == ['enrolling finger "thumb" of user "gina"', "touch the sensor", "progress 10%"]
    assert "touch did not overlap the earlier ones: place the finger closer to where it was" in lines
    assert "not overlapping the earlier ones); enrolment stopped" in result.stderr
    assert state(address) == "State: 1 (free)"

    # Silence is told apart from touches that were not taken.
    feeder.present([])
    result = run_ctl(address, "--timeout", "2", "enroll", "gina", "thumb")
    assert result.stderr == "veko2547-ctl: timed out: no answer from the sensor for 2 s; enrolment stopped\n"


@needs_fingers
def test_refusals_and_empty_store_give_their_own_messages(rig, fingers):
    harness, service, sensor, feeder = rig
    address = harness.bus.address
    # Nothing enrolled: the service ends the verification after one touch.
    feeder.present(fingers["other"])
    result = run_ctl(address, "verify")
    assert (result.returncode, result.stdout.splitlines()[-1]) == (
        1, "no match: nothing enrolled to compare with, or the touch could not be read")

    user = service.store_root / "frank"
    user.mkdir()
    for i in range(10):
        (user / f"f{i}.Data").write_bytes(bytes(28000))
    result = run_ctl(address, "enroll", "frank", "f10")
    assert (result.returncode, result.stderr) == (
        2, 'veko2547-ctl: enroll: user "frank" already has 10 fingers; delete one first\n')
    assert state(address) == "State: 1 (free)"


def test_installed_next_to_the_service(tmp_path):
    subprocess.run(["cmake", "--install", str(BUILD), "--prefix", "/usr"], check=True, capture_output=True,
                   env={**os.environ, "DESTDIR": str(tmp_path)})
    sbin = tmp_path / "usr" / "sbin"
    assert os.access(sbin / "veko2547-ctl", os.X_OK) and os.access(sbin / "veko2547_svr", os.X_OK)
