"""The PAM module where people meet it besides sudo: a screen locker that runs
PAM as the user it locks for, and sessions whose person is not at the sensor
(logged in from another machine, or switched away). polkit and logind are
python-dbusmock stand-ins on the private bus; the host is the project's own
(pam_call.py), run as the test user."""
import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import dbus
import pytest

from conftest import SOURCE_DIR, TEST_USERS, as_user, pam_module_path
from enrol_session import OTHER, OWNER, enrolled_store, have_fpgen
from simsensor import PRODUCT_PLAIN

sys.path.insert(0, str(SOURCE_DIR / "tools" / "demo"))
from demo_sensor import Feeder  # noqa: E402

MODULE = pam_module_path()
HOST = Path(__file__).with_name("pam_call.py")
PAM_SUCCESS, PAM_AUTHINFO_UNAVAIL = 0, 9
INFO = 4
PLACE = [INFO, "Place your finger on the fingerprint reader"]
VERIFY = "com.vekoid.fprint.verify"
SESSION = "/org/freedesktop/login1/session/c1"

pytestmark = [pytest.mark.skipif(not MODULE.exists(), reason="the PAM module is not built"),
              pytest.mark.skipif(not have_fpgen(), reason="fpgen is not built")]


@pytest.fixture(scope="module")
def enrolled(tmp_path_factory):
    """alice's and bob's fingers, and probes of them."""
    return enrolled_store(tmp_path_factory, {"alice": OWNER, "bob": OTHER}, 16, 8)


class Desk:
    """The service with alice's and bob's fingers, a sensor touched by alice,
    polkit letting active users verify, and logind with alice's session c1."""

    def __init__(self, simbus, harness, enrolled, logind=True):
        self.harness = harness
        self.sensor = simbus.add(PRODUCT_PLAIN)
        self.polkit = harness.start_mock("polkitd")
        self.polkit.mock.SetAllowed([VERIFY])
        self.logind = None
        if logind:
            self.logind = harness.start_mock("logind")
            self.logind.mock.AddSession("c1", "seat0", TEST_USERS["alice"], "alice", True)
            self.logind.mock.AddMethod("org.freedesktop.login1.Manager", "GetSessionByPID", "u", "o",
                                       f'ret = "{SESSION}"')
        self.service = harness.start_service(extra_env=harness.users_env(simbus.env()))
        shutil.copytree(enrolled[0], self.service.store_root, dirs_exist_ok=True)
        self.feeder = Feeder(self.sensor, pause=0.0)
        self.feeder.present(enrolled[1][OWNER])
        self.feeder.start()
        # Everything the user's host reads must be readable by that user.
        self.module = harness.public_copy(MODULE)
        self.host = harness.public_copy(HOST)
        harness.public_copy(SOURCE_DIR / "tools" / "demo" / "pam_host.py")
        self.confdir = harness.bus.dir / "public"
        (self.confdir / "lockscreen").write_text(f"auth required {self.module} bus={harness.bus.address} timeout=5\n")

    def session(self, **properties):
        """Changes properties of alice's session (Remote, Active)."""
        obj = self.harness.connect().get_object("org.freedesktop.login1", SESSION, introspect=False)
        for name, value in properties.items():
            obj.Set("org.freedesktop.login1.Session", name, value, dbus_interface="org.freedesktop.DBus.Properties")

    def authenticate(self, runs_as, user, env=None):
        """pam_authenticate for `user` in a host running as `runs_as`: the report."""
        report = self.confdir / f"report-{time.monotonic_ns()}.json"
        started = time.monotonic()
        run = subprocess.run([*as_user(runs_as), "/usr/bin/python3", str(self.host), str(report),
                              str(self.confdir), "lockscreen", user], capture_output=True, text=True, timeout=60,
                             cwd="/", env={**os.environ, **(env or {})})
        assert (run.returncode, run.stdout, run.stderr) == (0, "", "")
        result = json.loads(report.read_text())
        result["elapsed"] = time.monotonic() - started
        return result

    def stop(self):
        self.feeder.stop()


@pytest.fixture
def desk(simbus, harness, enrolled):
    made = Desk(simbus, harness, enrolled)
    yield made
    made.stop()


def test_a_screen_locker_running_as_the_user_unlocks_with_their_finger(desk):
    result = desk.authenticate("alice", "alice")
    assert (result["result"], result["messages"]) == (PAM_SUCCESS, [PLACE])
    # Locked for bob by alice's locker: bob's fingers are not alice's to see.
    result = desk.authenticate("alice", "bob")
    assert (result["result"], result["messages"]) == (PAM_AUTHINFO_UNAVAIL, [])
    # polkit's word is needed to verify.
    desk.polkit.mock.SetAllowed(dbus.Array([], signature="s"))
    result = desk.authenticate("alice", "alice")
    assert (result["result"], result["messages"]) == (PAM_AUTHINFO_UNAVAIL, [])
    assert desk.harness.client().get("State") == 1


def test_a_users_verification_compares_only_their_own_fingers(desk, enrolled):
    # Bob's finger on alice's locker: it is bob's, but alice's verification
    # never hears of it, so it is no match rather than "another user's".
    desk.feeder.present(enrolled[1][OTHER])
    result = desk.authenticate("alice", "alice")
    assert result["result"] == 7 and result["messages"][-1] == [3, "Fingerprint not recognised"]
    assert "verify ok" not in desk.service.log()


@pytest.mark.parametrize("change", [{"Remote": True}, {"Active": False}])
def test_nobody_at_the_sensor_means_the_password_at_once(desk, change):
    desk.session(**change)
    result = desk.authenticate("alice", "alice")
    assert (result["result"], result["messages"]) == (PAM_AUTHINFO_UNAVAIL, [])
    assert result["elapsed"] < 2
    assert "handle_ListFingers" not in desk.service.log()


def test_without_logind_the_module_works_as_before(simbus, harness, enrolled):
    desk = Desk(simbus, harness, enrolled, logind=False)
    try:
        result = desk.authenticate("alice", "alice")
        assert (result["result"], result["messages"]) == (PAM_SUCCESS, [PLACE])
    finally:
        desk.stop()
