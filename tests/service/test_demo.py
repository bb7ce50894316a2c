"""The one-command demonstration runs to completion on the built tree."""
import os
import signal
import subprocess
from pathlib import Path

import pytest

from conftest import SOURCE_DIR

BUILD = os.environ.get("VEKO_BUILD_DIR", "")


@pytest.mark.skipif(not BUILD or not Path(BUILD, "CMakeCache.txt").exists(), reason="needs a configured build")
@pytest.mark.parametrize("profile", ["1", "2"])
def test_demo_runs_to_completion_and_cleans_up(profile):
    env = dict(os.environ, VEKO_DEMO_BUILD=BUILD, VEKO_DEMO_PROFILE=profile)
    env.pop("DBUS_SYSTEM_BUS_ADDRESS", None)
    before = set(Path("/tmp").glob("veko-demo.*"))
    # Its own session, so that everything it started can be ended if it hangs.
    proc = subprocess.Popen([str(SOURCE_DIR / "demo")], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, start_new_session=True)
    try:
        out, err = proc.communicate(timeout=240)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGTERM)
        out, err = proc.communicate(timeout=30)
        pytest.fail("the demonstration did not finish: " + out + err)
    assert proc.returncode == 0, out + err
    assert f"recognition profile {profile}" in out
    assert "progress 90%" in out and 'enrolled finger "right-thumb" of user "alice"' in out
    assert 'match: user "alice"' in out
    assert out.count("no match") >= 1 and "exit status 1" in out
    assert "renamed finger" in out and 'deleted finger "thumb" of user "alice"' in out
    # The screen locker running as alice: what she sees, and her way in.
    assert "  Place your finger on the fingerprint reader\npam_authenticate: Success\n" in out
    # Its temporary folder (bus, store, fingers) is gone again, and nothing it
    # started (the service, the bus, the sensor, the polkit stand-in) is left.
    assert set(Path("/tmp").glob("veko-demo.*")) == before
    left = subprocess.run(["pgrep", "-f", "veko-demo\\."], capture_output=True, text=True).stdout.split()
    assert left == [], subprocess.run(["ps", "-o", "pid,args", "-p", ",".join(left)], capture_output=True,
                                      text=True).stdout
