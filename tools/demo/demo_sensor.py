#!/usr/bin/python3
"""A simulated sensor that touches itself: for the demonstration and the
client tests.

`Feeder` watches one simulated sensor and, whenever the service waits for a
capture, places the next image of the chosen set on it, waits until the image
has been read and lifts the finger again.

Run as a program it sets up a simulated USB bus with one sensor, writes the
environment the service needs (SENSOR_ENV, shell syntax) into the work
directory and feeds the set of images named in the file `present` of that
directory ("owner-enrol", "owner-verify", "other", or "none"), until SIGTERM.
Once it touches with a newly named set it writes that name into the file
`presented`, so that a caller can wait for the switch before it asks the
service for a capture.
"""
import argparse
import os
import signal
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests" / "service"))
from simsensor import SimBus  # noqa: E402

ENROL_TOUCHES = 16  # first impressions of the owner: enrolment; the rest: verification


class Feeder(threading.Thread):
    """Touches `sensor` with the images of the current set, one per capture
    the service asks for, cycling through the set."""

    def __init__(self, sensor, pause=0.15):
        super().__init__(daemon=True)
        self.sensor = sensor
        self.pause = pause  # between touches, so that progress can be watched
        self.lock = threading.Lock()
        self.images = []
        self.next = 0
        self.generation = 0  # counts present() calls, so that no image of an older set is placed
        self.touches = 0
        self.stopped = threading.Event()

    def present(self, images):
        """From now on, touch with these images (none: leave the sensor untouched)."""
        with self.lock:
            self.images = list(images)
            self.next = 0
            self.generation += 1

    def _capture_waiting(self):
        with self.sensor.lock:
            return self.sensor.capturing is not None and self.sensor.finger is None

    def run(self):
        while not self.stopped.is_set():
            with self.lock:
                image = self.images[self.next % len(self.images)] if self.images else None
                generation = self.generation
            if image is None or not self._capture_waiting():
                time.sleep(0.02)
                continue
            with self.lock:
                if generation != self.generation:
                    continue  # the set changed meanwhile
                self.next += 1
            sent = self.sensor.images_sent
            self.sensor.place_finger(image)
            self.sensor.wait_for(lambda s: s.images_sent > sent or s.capturing is None, 5.0)
            self.sensor.lift_finger()
            self.touches += 1
            time.sleep(self.pause)

    def stop(self):
        self.stopped.set()
        self.join(2.0)


def load_sets(folder, product):
    """The folder holds the impressions of two generated fingers: the lower seed
    is the owner's, the higher the other person's."""
    def impressions(seed):
        return [p.read_bytes() for p in sorted(Path(folder).glob(f"f{seed}_{product:04x}_*.raw"))]

    seeds = sorted({p.name[1:5] for p in Path(folder).glob(f"f????_{product:04x}_*.raw")})
    if len(seeds) != 2:
        raise SystemExit(f"demo_sensor: expected the impressions of two fingers in {folder}")
    owner, other = impressions(seeds[0]), impressions(seeds[1])
    if len(owner) <= ENROL_TOUCHES or not other:
        raise SystemExit(f"demo_sensor: too few generated impressions in {folder}")
    return {"owner-enrol": owner[:ENROL_TOUCHES], "owner-verify": owner[ENROL_TOUCHES:], "other": other, "none": []}


def _end_with_parent():
    """Ends this process with SIGTERM when the process that started it dies."""
    import ctypes
    pr_set_pdeathsig = 1
    ctypes.CDLL(None).prctl(pr_set_pdeathsig, signal.SIGTERM)


def main():
    _end_with_parent()
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--product", type=lambda s: int(s, 16), default=0x2547, help="USB product id (hex)")
    parser.add_argument("--fingers", required=True,
                        help="folder with fpgen raw impressions of two fingers (owner: the lower seed)")
    parser.add_argument("--workdir", required=True, help="where SENSOR_ENV is written and `present` is read")
    parser.add_argument("--pause", type=float, default=0.15, help="seconds between two touches")
    args = parser.parse_args()

    sets = load_sets(args.fingers, args.product)
    work = Path(args.workdir)
    present_file = work / "present"
    bus = SimBus()
    feeder = Feeder(bus.add(args.product), pause=args.pause)
    feeder.start()
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    signal.signal(signal.SIGINT, lambda *_: done.set())

    env = bus.env()
    ready = work / "sensor.env.tmp"
    ready.write_text("".join(f"export {k}='{v}'\n" for k, v in env.items()))
    ready.rename(work / "sensor.env")  # appears complete or not at all

    current = None
    while not done.is_set():
        try:
            wanted = present_file.read_text().strip()
        except OSError:
            wanted = "none"
        if wanted != current and wanted in sets:
            feeder.present(sets[wanted])
            current = wanted
            tmp = work / "presented.tmp"
            tmp.write_text(wanted + "\n")
            tmp.rename(work / "presented")
        done.wait(0.05)
    feeder.stop()
    bus.close()


if __name__ == "__main__":
    main()
