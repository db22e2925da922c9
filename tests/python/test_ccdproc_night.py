"""tenvora.ccdproc on CCDData, and a night matched on a Dask cluster as in the serial loop."""

import json
import os
import subprocess
import pathlib
import sys

import numpy as np
import pytest
from astropy.io import fits
from astropy.nddata import CCDData

import tenvora
from tenvora import ccdproc, night

SHAPE = (48, 64)


def frame(seed, level, mask_at=None, unit="adu"):
    data = (level + np.random.default_rng(seed).random(SHAPE) * 40).astype(np.float32)
    mask = None
    if mask_at is not None:
        mask = np.zeros(SHAPE, bool)
        mask[mask_at] = True
    header = fits.Header([("EXPTIME", 300.0), ("HISTORY", "taken at the telescope")])
    return CCDData(data, unit=unit, mask=mask, meta=header)


def test_ccddata_round_trip(tmp_path):
    light, dark, bias = frame(1, 500, (1, 2)), frame(2, 300, (3, 4)), frame(3, 100, (5, 6))
    light.meta.update(BIAS=100, OBJECT="M 42", CALSTAT="F")
    result = ccdproc.match(light, dark, bias, 2, subtract=True, light_name="l.fits",
                           dark_name="d.fits", bias_name="b.fits")
    plain = tenvora.match(light.data, dark.data, bias.data, 2, subtract=True)
    assert result.levels == dict(plain.levels, dark_exposure=300.0, exposure_ratio=1.0)
    for kind, imagetyp in (("glow", "Dark Frame"), ("matched", "Dark Frame"), ("corrected", "Light Frame")):
        path = tmp_path / f"{kind}.fits"
        getattr(result, kind).write(path)
        back = CCDData.read(path)
        assert np.array_equal(back.data.astype(np.float32).view(np.uint32), getattr(plain, kind).view(np.uint32))
        assert back.unit == "adu" and back.uncertainty is None
        assert np.array_equal(np.argwhere(back.mask), [(1, 2), (3, 4), (5, 6)])
        header = back.header
        assert header["EXPTIME"] == 300.0 and header["IMAGETYP"] == imagetyp
        assert header["LIGHTFIL"] == "l.fits" and header["BIASFACT"] == 2
        assert header["BIAS"] == 100 and header["OBJECT"] == "M 42"  # the light's own
        assert header["CALSTAT"] == "FBD" if kind == "corrected" else "CALSTAT" not in header
        assert header["EXPRATIO"] == 1.0 and header["DARKEXP"] == 300.0
        assert np.float32(header["GLOWRAT"]) == np.float32(plain.levels["glow_ratio"])
        for name, comment, _, _ in tenvora.OUTPUT_KEYWORDS:
            if name in header:
                assert header.comments[name] == comment
        history = list(header["HISTORY"])
        assert history[0] == "taken at the telescope"
        assert history[2:6] == ["dark d.fits", "bias b.fits, factor 2",
                                f"glow ratio {ccdproc.float_text(plain.levels['glow_ratio'])}, "
                                f"hot ratio {ccdproc.float_text(plain.levels['hot_ratio'])}",
                                "exposure ratio 1 (light 300 s, dark 300 s)"]
        assert history[6].startswith("scales fitted: glow ")
        assert header["TVWARN"] == ccdproc.warning_codes(result.warnings)
    # The headers' equal exposures make the ratio 1, far from the scales.
    codes = [w["code"] for w in result.warnings]
    assert "scale-off-exposure" in codes
    assert [c for c in codes if c != "scale-off-exposure"] == [w["code"] for w in plain.warnings]
    with_exposure = tenvora.match(light.data, dark.data, bias.data, 2, subtract=True, exposure_ratio=1.0)
    assert result.warnings == with_exposure.warnings != plain.warnings
    assert ccdproc.match(light, dark).corrected is None
    with pytest.raises(ValueError, match="units differ"):
        ccdproc.match(light, frame(2, 300, unit="electron"))


@pytest.mark.parametrize("cards, ratio", [
    ((("EXPTIME", 1200.0),), 0.25),
    ((("EXPOSURE", 150),), 2.0),
    ((("EXPTIME", "long"), ("EXPOSURE", 600.0)), 0.5),
    ((("EXPTIME", 0.0),), None),
    ((), None),
])
def test_exposure_ratio_from_the_headers_as_the_tool_reads_them(cards, ratio):
    light, dark = frame(1, 500), frame(2, 300)
    dark.meta = fits.Header(cards)
    assert ccdproc.match(light, dark).levels["exposure_ratio"] == ratio
    parts = tenvora.split_dark(dark.data)
    given = ccdproc.exposure(dark.meta)
    assert ccdproc.match(light, None, dark_parts=parts, dark_exposure=given).levels[
        "exposure_ratio"] == ratio
    assert tenvora.EXPOSURE_KEYWORDS == ("EXPTIME", "EXPOSURE")


def test_readme_lists_the_output_keywords_of_the_table():
    readme = (pathlib.Path(__file__).parents[2] / "README.md").read_text()
    for name, _, meaning, was in tenvora.OUTPUT_KEYWORDS:
        assert f"| `{name}` | {meaning} | {was} |" in readme, name


def test_readme_ccddata_example(tmp_path, monkeypatch):
    readme = (pathlib.Path(__file__).parents[2] / "README.md").read_text()
    example = readme.split("### astropy CCDData")[1].split("```python")[1].split("```")[0]
    (tmp_path / "night" / "lights").mkdir(parents=True)
    for name, seed, level in (("lights/light_01", 1, 500), ("master_dark", 2, 300),
                              ("master_bias", 3, 100)):
        frame(seed, level).write(tmp_path / "night" / f"{name}.fits")
    monkeypatch.chdir(tmp_path)
    exec(example, {})
    header = fits.getheader(tmp_path / "light_01_corrected.fits")
    assert "dark master_dark.fits" in header["HISTORY"]
    assert header["TVWARN"] == "fit-uncertain-scale,scale-off-exposure"


def test_dask_night_is_the_serial_loop(tmp_path):
    lights_dir, serial, parallel = (tmp_path / name for name in ("lights", "serial", "dask"))
    for folder in (lights_dir, serial, parallel):
        folder.mkdir()
    for k in range(3):
        frame(10 + k, 400 + 50 * k).write(lights_dir / f"m42_{k}.fits")
    (lights_dir / "m42_3.fits").write_text("not a FITS file")  # fails on its own
    frame(2, 300, (3, 4)).write(lights_dir / "dark.fits")
    frame(3, 100).write(lights_dir / "bias.fits")
    dark, bias = str(lights_dir / "dark.fits"), str(lights_dir / "bias.fits")

    # The example on a LocalCluster of two worker processes, which inherit PYTHONPATH.
    example = os.path.join(os.environ["TENVORA_EXAMPLES"], "dask_night.py")
    run = subprocess.run([sys.executable, example, str(lights_dir), "--dark", dark, "--bias", bias,
                          "--subtract", "--out-dir", str(parallel), "--workers", "2"],
                         capture_output=True, text=True, timeout=500)
    assert run.returncode == 2, run.stderr
    assert f"dask_night.py: {lights_dir / 'm42_3.fits'}: No SIMPLE card" in run.stderr
    rows = [json.loads(line) for line in run.stdout.splitlines()]

    lights = night.lights_in(str(lights_dir), leave_out=[dark, bias])
    assert [os.path.basename(p) for p in lights] == ["m42_0.fits", "m42_1.fits", "m42_2.fits",
                                                     "m42_3.fits"]
    assert rows == night.match_night(lights, dark, str(serial), bias, subtract=True)
    assert [("problem" in row) for row in rows] == [False, False, False, True]
    names = sorted(os.listdir(serial))
    assert names == ["m42_0_corrected.fits", "m42_1_corrected.fits", "m42_2_corrected.fits"]
    assert sorted(os.listdir(parallel)) == names
    for name in names:
        assert (serial / name).read_bytes() == (parallel / name).read_bytes()
        assert np.array_equal(np.argwhere(CCDData.read(serial / name).mask), [(3, 4)])
    # Outputs beside the lights are not taken for lights on the next run.
    (serial / names[0]).rename(lights_dir / names[0])
    assert night.lights_in(str(lights_dir), leave_out=[dark, bias]) == lights


@pytest.mark.parametrize("names", [
    ["10s.fits", "20s.fits", "150s.fits", "1200s.fits"],
    ["m42_2.fits", "m42_10.fits", "m42_0011.fits", "m42_100.fits"],
    ["L_1_2.fits", "L_1_10.fits", "L_2_1.fits", "L_10_1.fits"],
    ["a01.fits", "a1.fits", "a2.fits"],
    ["a.fits", "a2.fits", "b.fits", "b1.fits"],
])
def test_lights_come_in_natural_order(tmp_path, names):
    for name in reversed(names):
        frame(1, 100).write(tmp_path / name)
    assert [os.path.basename(p) for p in night.lights_in(str(tmp_path))] == names


@pytest.mark.parametrize("call, message", [
    (lambda l, d: ccdproc.match("light.fits", d), "light must be an astropy CCDData, not str; CCDData.read"),
    (lambda l, d: ccdproc.match(l, d.data), "dark must be an astropy CCDData, not ndarray; tenvora.match takes"),
    (lambda l, d: ccdproc.match(l, d, bias=[[1.0]]), "bias must be an astropy CCDData, not list"),
    (lambda l, d: ccdproc.match(l, None), "dark must be an astropy CCDData, not NoneType"),
])
def test_ccdproc_match_says_what_it_takes(call, message):
    with pytest.raises(TypeError, match=message.replace(".", r"\.").replace("(", r"\(")):
        call(frame(1, 500), frame(2, 300))


def test_in_memory_meta_and_levels_that_are_not_finite(tmp_path):
    light = frame(1, 500)
    light.data[-13:-8, 3:8] = np.nan  # the glow corner: the glow level is NaN
    in_memory = CCDData(light.data, unit="adu", meta={"EXPTIME": 300.0, "OBJECT": ("M42", "target")})
    with pytest.warns(UserWarning, match="l.fits: GLOWRAT is NaN: written without a value"):
        result = ccdproc.match(in_memory, frame(2, 300), light_name="l.fits")
    result.matched.write(tmp_path / "m.fits")
    header = fits.getheader(tmp_path / "m.fits")
    assert header["OBJECT"] == "M42" and header["EXPTIME"] == 300.0
    assert header["GLOWRAT"] is None and header.comments["GLOWRAT"].startswith("NaN: ")
    assert header["HOTRAT"] == result.levels["hot_ratio"]


def test_wcs_of_the_light_reaches_the_outputs(tmp_path):
    light = frame(1, 500)
    light.meta.update(CTYPE1="RA---TAN", CTYPE2="DEC--TAN", CRVAL1=83.8, CRVAL2=-5.4,
                      CRPIX1=32.0, CRPIX2=24.0, CDELT1=-0.0005, CDELT2=0.0005)
    light.write(tmp_path / "m42.fits")
    frame(2, 300).write(tmp_path / "dark.fits")
    rows = night.match_night([str(tmp_path / "m42.fits")], str(tmp_path / "dark.fits"), str(tmp_path))
    assert "problem" not in rows[0]
    header = fits.getheader(tmp_path / "m42_matched.fits")
    assert (header["CTYPE1"], header["CRVAL1"], header["CRVAL2"]) == ("RA---TAN", 83.8, -5.4)


def test_an_output_never_replaces_an_input(tmp_path):
    frame(1, 500).write(tmp_path / "m42.fits")
    frame(4, 520).write(tmp_path / "m42_matched.fits")  # a light with an output's name
    frame(2, 300).write(tmp_path / "dark.fits")
    before = (tmp_path / "m42_matched.fits").read_bytes()
    lights = [str(tmp_path / "m42.fits"), str(tmp_path / "m42_matched.fits")]
    with pytest.raises(ValueError, match="m42_matched.fits: is one of the input files"):
        night.match_night(lights, str(tmp_path / "dark.fits"), str(tmp_path), overwrite=True)
    assert (tmp_path / "m42_matched.fits").read_bytes() == before
    assert sorted(os.listdir(tmp_path)) == ["dark.fits", "m42.fits", "m42_matched.fits"]


def _another_size(path):
    CCDData(np.ones((20, 30), np.float32), unit="adu").write(path)


def _truncated(path):
    frame(5, 450).write(path)
    path.write_bytes(path.read_bytes()[:4000])


def _unit(text):
    def write(path):
        frame(5, 450).write(path)
        with fits.open(path, mode="update") as hdus:
            hdus[0].header["BUNIT"] = text
    return write


# One bad light among good ones: its row names it and its problem, it leaves no
# output, the others are matched, and a rerun over the folder goes through.
BAD_LIGHTS = [
    ("another_size", _another_size, "m42_1.fits: is 30 x 20, the dark frame 64 x 48"),
    ("truncated", _truncated, "m42_1.fits: "),
    ("not_fits", lambda path: path.write_text("clear skies"), "m42_1.fits: "),
    ("unit_e-", _unit("e-"), "m42_1.fits: "),
    ("unit_counts", _unit("counts"), "m42_1.fits: "),
]


@pytest.mark.parametrize("name,write_bad,problem_start", BAD_LIGHTS, ids=[c[0] for c in BAD_LIGHTS])
def test_one_bad_light_never_ends_the_night(tmp_path, name, write_bad, problem_start):
    lights_dir, out = tmp_path / "lights", tmp_path / "out"
    lights_dir.mkdir()
    out.mkdir()
    frame(10, 400).write(lights_dir / "m42_0.fits")
    write_bad(lights_dir / "m42_1.fits")
    frame(12, 500).write(lights_dir / "m42_2.fits")
    frame(2, 300).write(tmp_path / "dark.fits")
    lights = night.lights_in(str(lights_dir))
    assert len(lights) == 3
    rows = night.match_night(lights, str(tmp_path / "dark.fits"), str(out))
    assert [("problem" in row) for row in rows] == [False, True, False]
    assert rows[1]["file"] == lights[1]
    assert rows[1]["problem"].startswith(str(lights_dir / problem_start))
    assert sorted(os.listdir(out)) == ["m42_0_matched.fits", "m42_2_matched.fits"]
    rerun = night.match_night(night.lights_in(str(lights_dir)), str(tmp_path / "dark.fits"),
                              str(out), overwrite=True)
    assert rerun == rows
