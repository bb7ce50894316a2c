"""Shared pieces of the end-to-end enrolment and verification tests: generated
fingers, a claimed session on one simulated sensor, and template checks with
the built library."""
import ctypes
import json
import os
import subprocess
import time
from pathlib import Path

from simsensor import PRODUCT_12BIT, PRODUCT_PLAIN, PRODUCT_SPLIT

BUILD_DIR = Path(os.environ.get("VEKO_BUILD_DIR", ""))
FPGEN = BUILD_DIR / "tools" / "fpgen" / "fpgen"
LIBRARY = BUILD_DIR / "alg" / "libQVAlgDll.so"
PRODUCTS = (PRODUCT_12BIT, PRODUCT_SPLIT, PRODUCT_PLAIN)
TEMPLATE_SIZE = 28000
# Sensor type the library is initialised with for each model.
LIBRARY_SENSOR_TYPE = {PRODUCT_12BIT: 5, PRODUCT_SPLIT: 3, PRODUCT_PLAIN: 1}
ACCEPT_SCORE = 45


def have_fpgen():
    return os.access(FPGEN, os.X_OK)


# The generated fingers the suites touch the sensor with: an owner, another
# person and a third one. Each enrols on every model under every profile, the
# owner's and the other's first touches after enrolment match, and no two of
# them come near a match with each other under any profile.
OWNER, OTHER, THIRD = 11, 16, 9


def generate_fingers(out, seeds, impressions, products=PRODUCTS):
    """Raw impressions of generated fingers: {seed: {product: [bytes]}}."""
    for seed in seeds:
        subprocess.run([str(FPGEN), "--seeds", str(seed), "--impressions", str(impressions), "--formats", "raw",
                        "--no-full", str(out)], check=True, stdout=subprocess.DEVNULL, timeout=120)
    return {seed: {product: [p.read_bytes() for p in sorted(out.glob(f"f{seed:04d}_{product:04x}_*.raw"))]
                   for product in products}
            for seed in seeds}


def enrolled_store(tmp_path_factory, owners, touches, extra):
    """A finger store with one finger "index" per user of `owners` ({user:
    seed}), enrolled through the service from `touches` impressions, and for
    every seed the `extra` impressions that follow them (probes):
    (store directory, {seed: [probe images]})."""
    from conftest import Harness
    from simsensor import SimBus
    seeds = sorted(set(owners.values()))
    images = {seed: by_product[PRODUCT_PLAIN] for seed, by_product in generate_fingers(
        tmp_path_factory.mktemp("fingers"), seeds, touches + extra, (PRODUCT_PLAIN,)).items()}
    work = tmp_path_factory.mktemp("enrol")
    simbus, harness = SimBus(), Harness(work)
    try:
        session = Session(simbus, harness, PRODUCT_PLAIN)
        for user, seed in owners.items():
            session.client.signals.clear()
            assert session.enrol(user, "index", images[seed][:touches])[1] == 0, user
    finally:
        harness.close()
        simbus.close()
    return work / "store", {seed: shots[touches:] for seed, shots in images.items()}


class Session:
    """One simulated sensor, the service started on it and a claimed client.
    With `activated` the harness's bus starts the service on the Claim call
    (service is then None)."""

    def __init__(self, simbus, harness, product, sensor=None, activated=False, extra_env=None):
        self.sensor = sensor or simbus.add(product)
        self.service = None if activated else harness.start_service(
            extra_env={**simbus.env(), **(extra_env or {})})
        self.client = harness.client()
        self.client.fprint.Claim("1000", True)

    def statuses(self, member):
        return [(args[0], int(args[1]), json.loads(args[2]) if args[2] else {})
                for name, args in self.client.signals if name == member]

    def touch(self, image, timeout=5.0):
        """Places the finger until the sensor has sent its image once, then lifts it."""
        sent = self.sensor.images_sent
        self.sensor.place_finger(image)
        assert self.sensor.wait_for(lambda s: s.images_sent > sent, timeout)
        self.sensor.lift_finger()

    def wait_status(self, member, predicate, timeout=3.0, since=0):
        """The last status of `member` matching `predicate` among those from index
        `since` on, waiting up to `timeout` for one; None if none came."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.client.wait_for_signals(len(self.client.signals) + 1, timeout=0.05)
            found = [s for s in self.statuses(member)[since:] if predicate(s)]
            if found:
                return found[-1]
        return None

    def enrol(self, user, finger, images):
        self.client.fprint.Enroll(user, finger)
        for image in images:
            self.touch(image)
            if self.wait_status("EnrollStatus", lambda s: s[1] != 2, timeout=0.3):
                break
        return self.wait_status("EnrollStatus", lambda s: s[1] != 2)

    def verify(self, images, finger=""):
        """Touches until a result other than 'no match' arrives; returns it and all statuses."""
        self.client.fprint.Verify(finger)
        for image in images:
            before = len(self.statuses("VerifyStatus"))
            self.touch(image)
            # Only a status sent after this touch answers it: an earlier one found
            # at once would leave the next touch racing the service.
            status = self.wait_status("VerifyStatus", lambda s: True, timeout=3.0, since=before)
            assert status is not None
            if status[1] != 3:
                return status
        return self.statuses("VerifyStatus")[-1]


class Library:
    """The built algorithm library, for checking stored templates."""

    def __init__(self):
        self.lib = ctypes.CDLL(str(LIBRARY))
        self.lib.Quorvane_Init.argtypes = [ctypes.c_int32]
        self.lib.Quorvane_MatchScore.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        self.lib.Quorvane_MatchScore.restype = ctypes.c_int16

    def score(self, product, stored, live):
        self.lib.Quorvane_Init(LIBRARY_SENSOR_TYPE[product])
        return self.lib.Quorvane_MatchScore(bytes(stored), bytes(live))

    def is_whole(self, product, template):
        """A whole template decodes and matches itself."""
        return len(template) == TEMPLATE_SIZE and self.score(product, template, template) > ACCEPT_SCORE
