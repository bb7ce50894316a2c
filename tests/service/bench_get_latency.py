#!/usr/bin/python3
"""Reply latency of the service's property Get over a private bus.

Starts a private bus with the shipped policy and the service under it (as the
tests do), then times N blocking Get calls one after another and prints the
median, 99th percentile and worst round trip.

    VEKO_SVR=build/service/veko2547_svr tests/service/bench_get_latency.py [--calls 1000] [--logging]
"""
import argparse
import statistics
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from conftest import BUS_NAME, INTERFACE, PROPERTIES, Harness  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=1000)
    parser.add_argument("--property", default="State")
    parser.add_argument("--logging", action="store_true", help="run with the logging flag file present")
    options = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="veko-bench-") as workdir:
        harness = Harness(Path(workdir))
        try:
            harness.start_service(logging=options.logging)
            connection = harness.connect()
            samples = []
            for _ in range(options.calls):
                start = time.perf_counter()
                connection.call_blocking(BUS_NAME, "/com/vekoid", PROPERTIES, "Get", "ss",
                                         (INTERFACE, options.property), timeout=3)
                samples.append((time.perf_counter() - start) * 1000.0)
        finally:
            harness.close()

    samples.sort()
    p99 = samples[min(len(samples) - 1, int(len(samples) * 0.99))]
    print(f"Get {options.property}: {len(samples)} calls, logging {'on' if options.logging else 'off'}")
    print(f"median {statistics.median(samples):.3f} ms  p99 {p99:.3f} ms  worst {samples[-1]:.3f} ms  "
          f"best {samples[0]:.3f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
