"""tenvora.combine and tenvora-master against a straightforward numpy version of the rule,
on arrays, on files and on the real frames."""

import glob
import os
import subprocess

import numpy as np
import pytest
from astropy.io import fits
from astropy.nddata import CCDData

import tenvora
import tenvora.ccdproc

MASTER = os.environ.get("TENVORA_MASTER", "tenvora-master")
REALDATA = os.path.join(os.path.dirname(__file__), "..", "..", "..", "shared", "realdata", "ccd-stl1001e")
REALDATA = os.environ.get("TENVORA_REALDATA", os.path.normpath(REALDATA))
if not os.path.isdir(REALDATA):
    REALDATA = "/work/shared/realdata/ccd-stl1001e"


def reference(stack, method="sigma-clip", kappa=3.0):
    """The rule, whole stack at once: values not finite left out; sigma-clip drops values
    further than kappa x 1.4826 x MAD from the median of those kept, 5 rounds at most (a
    round that drops nothing changes nothing after it), none with fewer than 3 kept or MAD 0."""
    values = np.asarray(stack, np.float64)
    kept = np.isfinite(values)
    with np.errstate(all="ignore"), _quiet():
        if method == "median":
            return np.nanmedian(np.where(kept, values, np.nan), axis=0).astype(np.float32)
        if method == "sigma-clip":
            for _ in range(5):
                data = np.where(kept, values, np.nan)
                median = np.nanmedian(data, axis=0)
                limit = kappa * 1.4826 * np.nanmedian(np.abs(data - median), axis=0)
                clip = (kept.sum(axis=0) >= 3) & (limit > 0)
                kept &= ~(clip & (np.abs(values - median) > limit))
        return np.nanmean(np.where(kept, values, np.nan), axis=0).astype(np.float32)


class _quiet:
    """All-NaN pixels make numpy warn; their result is NaN either way."""

    def __enter__(self):
        import warnings

        self._catch = warnings.catch_warnings()
        self._catch.__enter__()
        warnings.simplefilter("ignore", RuntimeWarning)

    def __exit__(self, *exc):
        self._catch.__exit__(*exc)


def raw_stack(count, shape=(37, 29), seed=0):
    """Whole ADU around 1000, outliers, a pixel alike in all frames, NaN pixels."""
    rng = np.random.default_rng(seed)
    stack = np.round(1000 + rng.normal(0, 7, (count,) + shape)).astype(np.float32)
    stack[rng.random(stack.shape) < 0.05] += 500
    stack[:, 3, 4] = 1000
    stack[0, 5, 6] = np.nan
    stack[:, 7, 8] = np.nan
    return stack


@pytest.mark.parametrize("method", ["sigma-clip", "median", "mean"])
@pytest.mark.parametrize("count", [1, 2, 3, 20])
def test_combine_is_the_numpy_rule(method, count):
    stack = raw_stack(count, seed=count)
    expected = reference(stack, method)
    for jobs in (1, 3):
        master = tenvora.combine(list(stack), method, jobs=jobs)
        assert master.dtype == np.float32 and master.shape == stack.shape[1:]
        np.testing.assert_allclose(master, expected, rtol=1e-6, equal_nan=True)
        assert np.isnan(master[7, 8])


def test_files_and_arrays_give_the_same_master(tmp_path):
    stack = raw_stack(5, shape=(300, 41))
    paths = []
    for k, frame in enumerate(stack):
        paths.append(tmp_path / f"f{k}.fits")
        fits.PrimaryHDU(frame).writeto(paths[-1])
    assert np.array_equal(tenvora.combine(paths), tenvora.combine(list(stack)), equal_nan=True)


def test_ccddata_form_leaves_masked_pixels_out():
    stack = raw_stack(4)
    frames = [CCDData(f, unit="adu", meta={"INSTRUME": "cam", "EXPTIME": 60.0 + k}) for k, f in enumerate(stack)]
    frames[1].mask = np.zeros(stack.shape[1:], bool)
    frames[1].mask[2, 2] = True
    master = tenvora.ccdproc.combine(frames, "median", kind="dark")
    with_nan = stack.copy()
    with_nan[1, 2, 2] = np.nan
    np.testing.assert_array_equal(master.data, reference(with_nan, "median"))
    assert master.unit == "adu"
    assert master.header["IMAGETYP"] == "Master Dark" and master.header["NCOMBINE"] == 4
    assert master.header["INSTRUME"] == "cam" and "EXPTIME" not in master.header
    assert master.mask[7, 8] and master.mask.sum() == 1


def real_frames(folder):
    frames = sorted(glob.glob(os.path.join(REALDATA, folder, "*.FIT")))
    if not frames:
        pytest.skip(f"REAL FRAMES MISSING: no {REALDATA}/{folder}/*.FIT; the real-frames test did not run")
    return frames


@pytest.mark.parametrize("folder, method", [("bias_m5C", "median"), ("darks_60s_x10_m5C", "sigma-clip")])
def test_real_masters_are_the_numpy_rule(tmp_path, folder, method):
    frames = real_frames(folder)
    out = tmp_path / "master.fits"
    done = subprocess.run([MASTER, "--out", str(out), "--method", method] + frames,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    stack = np.array([fits.getdata(f).astype(np.float32) for f in frames])
    master = fits.getdata(out)
    np.testing.assert_allclose(master, reference(stack, method), rtol=1e-6)
    header = fits.getheader(out)
    assert header["NCOMBINE"] == len(frames)
    assert header["IMAGETYP"] == ("Master Bias" if folder.startswith("bias") else "Master Dark")
