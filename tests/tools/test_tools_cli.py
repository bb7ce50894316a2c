"""The fpgen and fpcrop programs end to end: files, sizes, repeatability, errors."""
import os
import subprocess

import pytest

FPGEN = os.environ.get("FPGEN", "")
FPCROP = os.environ.get("FPCROP", "")
RAW_LENGTHS = {"2547": 13824, "2548": 8024, "2549": 9856}
PGM_SIZES = {"2547": (96, 96), "2548": (68, 118), "2549": (112, 88)}

pytestmark = pytest.mark.skipif(not (FPGEN and FPCROP), reason="FPGEN and FPCROP name the programs under test")


def run(*args):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=120)


def pgm_size(path):
    fields = open(path, "rb").read(32).split()
    assert fields[0] == b"P5"
    return int(fields[1]), int(fields[2])


def test_fpgen_writes_full_prints_and_every_sensor_format(tmp_path):
    result = run(FPGEN, "--seeds", "3", "--impressions", "2", tmp_path)
    assert result.returncode == 0, result.stderr
    for seed in ("f0003",):
        assert pgm_size(tmp_path / f"{seed}_full.pgm") == (288, 352)
        for sensor, length in RAW_LENGTHS.items():
            for k in ("01", "02"):
                assert (tmp_path / f"{seed}_{sensor}_{k}.raw").stat().st_size == length
                assert pgm_size(tmp_path / f"{seed}_{sensor}_{k}.pgm") == PGM_SIZES[sensor]
    # The raw file of the 8-bit sensors holds the image's own pixels.
    pgm = (tmp_path / "f0003_2549_01.pgm").read_bytes()
    assert pgm[-9856:] == (tmp_path / "f0003_2549_01.raw").read_bytes()


def test_fpgen_output_depends_only_on_the_seed(tmp_path):
    first, second = tmp_path / "a", tmp_path / "b"
    assert run(FPGEN, "--seeds", "9", "--impressions", "1", "--sensors", "2547", first).returncode == 0
    assert run(FPGEN, "--seeds", "8-9", "--impressions", "1", "--sensors", "2547", second).returncode == 0
    for name in ("f0009_full.pgm", "f0009_2547_01.raw"):
        assert (first / name).read_bytes() == (second / name).read_bytes()
    assert (second / "f0008_2547_01.raw").read_bytes() != (second / "f0009_2547_01.raw").read_bytes()


@pytest.mark.parametrize("args", [
    ["--seeds", "5-2", "out"],
    ["--sensors", "2550", "out"],
    ["--formats", "tiff", "out"],
    ["--class", "spiral", "out"],
    ["--impressions", "-1", "out"],
    ["sheet", "--seeds", "1-5000", "sheet.png"],
    [],
])
def test_fpgen_refuses_bad_arguments(args):
    assert run(FPGEN, *args).returncode == 2


def test_fpgen_sheet_and_fpcrop_on_its_print(tmp_path):
    sheet = tmp_path / "sheet.png"
    result = run(FPGEN, "sheet", "--seeds", "2", "--impressions", "1", sheet)
    assert result.returncode == 0, result.stderr
    assert sheet.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

    assert run(FPGEN, "--seeds", "2", "--impressions", "0", tmp_path).returncode == 0
    result = run(FPCROP, "--sensor", "2548", "--random", "3", "--seed", "4", tmp_path / "f0002_full.pgm",
                 tmp_path / "crop")
    assert result.returncode == 0, result.stderr
    for k in ("01", "02", "03"):
        assert (tmp_path / f"crop_{k}.raw").stat().st_size == 8024
        assert pgm_size(tmp_path / f"crop_{k}.pgm") == (68, 118)

    result = run(FPCROP, "--size", "40x30", "--centre", "144,170", "--angle", "15", tmp_path / "f0002_full.pgm",
                 tmp_path / "fixed")
    assert result.returncode == 0, result.stderr
    assert pgm_size(tmp_path / "fixed_01.pgm") == (40, 30)
    assert not (tmp_path / "fixed_01.raw").exists()


def test_fpcrop_reports_unreadable_input_and_bad_arguments(tmp_path):
    bad = tmp_path / "bad.pgm"
    bad.write_bytes(b"P5\n10 10\n255\nshort")
    result = run(FPCROP, "--sensor", "2547", bad, tmp_path / "out")
    assert result.returncode == 1
    assert "truncated" in result.stderr
    assert run(FPCROP, "--size", "40x30", "--formats", "raw", bad, tmp_path / "out").returncode == 2
    assert run(FPCROP, "--sensor", "9999", bad, tmp_path / "out").returncode == 2
    assert run(FPCROP, "--sensor", "2547", "--formats", "pgmx", bad, tmp_path / "out").returncode == 2
    assert run(FPCROP, "--sensor", "2547", "--seed", "1.5", bad, tmp_path / "out").returncode == 2
