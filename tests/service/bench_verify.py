#!/usr/bin/python3
"""Service time of verification and enrolment on a simulated sensor.

Runs the real service on a private bus with a simulated sensor (as the tests
do) and generated fingers, and prints:
  - verification: time from the last image byte the sensor delivers to the
    VerifyStatus signal at the client, with 10 stored fingers, for a genuine
    finger compared last (code 0, renewal and rewrite included) and for an
    unknown finger (code 3, all 10 compared);
  - enrolment: the time of a whole ten-capture enrolment without the touches,
    i.e. the sum over all captures of last image byte -> the service's next
    capture command (or the final EnrollStatus).

    VEKO_BUILD_DIR=build-i VEKO_SVR=build-i/service/veko2547_svr \\
        tests/service/bench_verify.py [--rounds 30] [--product 0x2549] [--logging]
"""
import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from conftest import Harness  # noqa: E402
from enrol_session import OTHER, OWNER, THIRD, Session, generate_fingers  # noqa: E402
from simsensor import CMD_ENROLL, CMD_VERIFY, PRODUCT_12BIT, SimBus  # noqa: E402

STORED = 10


class TimedSession(Session):
    """A session that notes when the last byte of an image left the sensor,
    when the service asked for a capture and when each signal arrived."""

    def __init__(self, simbus, harness, product, logging):
        sensor = simbus.add(product)
        self.last_byte = None
        self.capture_asked = None
        complete, on_command = sensor._complete, sensor._on_command
        sending = [0]  # images started and not yet fully delivered

        def timed_complete(urb, status, payload, actual=None):
            complete(urb, status, payload, actual)
            if payload and not sensor.outgoing and sensor.images_sent > sending[0]:
                sending[0] = sensor.images_sent
                self.last_byte = time.perf_counter()

        def timed_command(data):
            on_command(data)
            if len(data) == 8 and data[1] in (CMD_ENROLL, CMD_VERIFY):
                self.capture_asked = time.perf_counter()

        sensor._complete, sensor._on_command = timed_complete, timed_command
        self.sensor = sensor
        self.service = harness.start_service(logging=logging, extra_env=simbus.env())
        self.client = harness.client()
        on_signal = self.client._on_signal
        self.signal_times = []

        def timed_signal(*args, member=None):
            self.signal_times.append(time.perf_counter())
            on_signal(*args, member=member)

        self.client._on_signal = timed_signal
        self.client.connection.add_signal_receiver(timed_signal, dbus_interface="com.vekoid.fprint",
                                                   path="/com/vekoid", member_keyword="member")
        self.client.connection.remove_signal_receiver(on_signal, dbus_interface="com.vekoid.fprint",
                                                      path="/com/vekoid", member_keyword="member")
        self.client.fprint.Claim("1000", True)


def time_enrolment(s, images):
    """Sum of service time per capture over one ten-capture enrolment (ms) and the captures used."""
    s.client.signals.clear()
    s.client.fprint.Enroll("bench", "owner")
    busy = 0.0
    used = 0
    for image in images:
        asked = s.capture_asked
        s.touch(image)
        used += 1
        done = s.wait_status("EnrollStatus", lambda st: st[1] != 2, timeout=0.01)
        deadline = time.monotonic() + 5
        while not done and s.capture_asked == asked and time.monotonic() < deadline:
            done = s.wait_status("EnrollStatus", lambda st: st[1] != 2, timeout=0.005)
        end = s.signal_times[-1] if done else s.capture_asked
        busy += end - s.last_byte
        if done:
            assert done[1] == 0, done
            return busy * 1000, used
    raise SystemExit("enrolment did not complete")


def time_verifications(s, probes, rounds):
    times, codes = [], []
    for i in range(rounds):
        s.client.signals.clear()
        s.signal_times.clear()
        s.client.fprint.Verify("")
        s.touch(probes[i % len(probes)])
        status = s.wait_status("VerifyStatus", lambda st: True, timeout=5)
        assert status is not None
        times.append((s.signal_times[0] - s.last_byte) * 1000)
        codes.append(status[1])
        if status[1] == 3:
            s.client.fprint.StopVerify()
            s.wait_status("VerifyStatus", lambda st: st[1] == 2)
    return times, codes


def summary(label, values):
    values = sorted(values)
    print(f"{label}: n={len(values)} median {statistics.median(values):.1f} ms, "
          f"min {values[0]:.1f} ms, max {values[-1]:.1f} ms")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=30)
    parser.add_argument("--product", type=lambda v: int(v, 0), default=PRODUCT_12BIT)
    parser.add_argument("--logging", action="store_true", help="run with the logging flag file present")
    options = parser.parse_args()
    if not os.environ.get("VEKO_BUILD_DIR") or not os.environ.get("VEKO_SVR"):
        raise SystemExit("set VEKO_BUILD_DIR and VEKO_SVR")

    with tempfile.TemporaryDirectory(prefix="veko-bench-") as workdir:
        workdir = Path(workdir)
        (workdir / "fingers").mkdir()
        fingers = generate_fingers(workdir / "fingers", (OWNER, OTHER, THIRD), 24, products=(options.product,))
        owner, other, unknown = (fingers[seed][options.product] for seed in (OWNER, OTHER, THIRD))
        harness = Harness(workdir)
        simbus = SimBus()
        try:
            s = TimedSession(simbus, harness, options.product, options.logging)
            enrol_ms, used = time_enrolment(s, owner[:16])
            print(f"enrolment: {enrol_ms:.0f} ms of service time over {used} captures (touches excluded)")
            # Nine other fingers first in directory order, the owner's last.
            store = s.service.store_root
            owner_file = (store / "bench" / "owner.Data").read_bytes()
            shutil.rmtree(store / "bench")
            s.client.signals.clear()
            assert s.enrol("other", "f", other[:16]) == ("other", 0, {})
            other_file = (store / "other" / "f.Data").read_bytes()
            shutil.rmtree(store / "other")
            for i in range(STORED):
                (store / f"user{i}").mkdir()
            order = [n for n in os.listdir(store) if n.startswith("user")]
            for name in order[:-1]:
                (store / name / "thumb.Data").write_bytes(other_file)
            (store / order[-1] / "thumb.Data").write_bytes(owner_file)

            times, codes = time_verifications(s, owner[16:], options.rounds)
            summary("verify, genuine finger compared last, matched (code 0, file renewed)",
                    [t for t, c in zip(times, codes) if c == 0])
            if 3 in codes:
                summary("verify, genuine finger compared last, not matched (code 3)",
                        [t for t, c in zip(times, codes) if c == 3])
            times, codes = time_verifications(s, unknown[16:], options.rounds)
            summary(f"verify, unknown finger, all {STORED} compared (codes {sorted(set(codes))})", times)
        finally:
            harness.close()
            simbus.close()


if __name__ == "__main__":
    main()
