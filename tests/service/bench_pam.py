#!/usr/bin/python3
"""Time from the touch to PAM_SUCCESS through the PAM module (not a test).

Runs the real service on a private bus with a simulated sensor (as the tests
do), enrols a generated finger for alice, then authenticates alice again and
again through pam_veko2547.so in a host process of its own (pam_call.py),
touching the sensor with alice's finger once the module has started the
verification. Prints the time from placing the finger (the last touch
before success) to pam_authenticate returning PAM_SUCCESS; the target is a
median under 0.5 s.

    VEKO_BUILD_DIR=build/rel VEKO_SVR=build/rel/service/veko2547_svr \\
        tests/service/bench_pam.py [--rounds 20]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
from conftest import Harness  # noqa: E402
from enrol_session import OWNER, Session, generate_fingers  # noqa: E402
from simsensor import PRODUCT_PLAIN, SimBus  # noqa: E402

ENROL = 16


def one_round(session, confdir, images, work):
    report = work / "report.json"
    host = subprocess.Popen([sys.executable, str(HERE / "pam_call.py"), str(report), str(confdir), "bench", "alice"])
    touches = []
    while host.poll() is None:
        if not session.sensor.wait_for(lambda s: s.capturing is not None, 0.05):
            continue
        sent = session.sensor.images_sent
        touches.append(time.monotonic())
        session.sensor.place_finger(images[len(touches) % len(images)])
        session.sensor.wait_for(lambda s: s.images_sent > sent, 5)
        session.sensor.lift_finger()
    result = json.loads(report.read_text())
    if result["result"] != 0:
        raise SystemExit(f"bench_pam: authentication failed: {result['text']}")
    return result["returned_at"] - max(t for t in touches if t < result["returned_at"]), len(touches)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=20)
    args = parser.parse_args()
    build = Path(os.environ["VEKO_BUILD_DIR"]).resolve()
    module = build / "pam" / "pam_veko2547.so"
    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        fingers = generate_fingers(work / "fingers", (OWNER,), ENROL + 8, (PRODUCT_PLAIN,))[OWNER][
            PRODUCT_PLAIN]
        simbus, harness = SimBus(), Harness(work)
        try:
            session = Session(simbus, harness, PRODUCT_PLAIN)
            if session.enrol("alice", "index", fingers[:ENROL])[1] != 0:
                raise SystemExit("bench_pam: enrolment failed")
            session.client.fprint.Claim("1000", False)
            confdir = work / "pam.d"
            confdir.mkdir()
            (confdir / "bench").write_text(f"auth required {module} bus={harness.bus.address}\n")
            times, touches = [], 0
            for _ in range(args.rounds):
                seconds, used = one_round(session, confdir, fingers[ENROL:], work)
                times.append(seconds)
                touches += used
        finally:
            harness.close()
            simbus.close()
    ms = sorted(t * 1000 for t in times)
    print(f"touch -> PAM_SUCCESS over {len(ms)} authentications ({touches} touches): "
          f"median {statistics.median(ms):.0f} ms, min {ms[0]:.0f} ms, max {ms[-1]:.0f} ms (target: median under 500 ms)")


if __name__ == "__main__":
    main()
