"""The Python module against tenvora-match on its demo frames, and its handling of input."""

import json
import os
import pickle
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import tenvora

TOOL = os.environ.get("TENVORA_MATCH", "tenvora-match")
BLOCK = 2880


def read_fits(path):
    """The primary image of a simple FITS file (BITPIX -32, or 16 with BZERO) as float32."""
    with open(path, "rb") as f:
        data = f.read()
    cards, offset = {}, 0
    while "END" not in cards:
        block = data[offset : offset + BLOCK].decode("ascii")
        offset += BLOCK
        for k in range(0, BLOCK, 80):
            key = block[k : k + 8].strip()
            if key == "END":
                cards["END"] = None
                break
            if block[k + 8 : k + 10] == "= ":
                cards[key] = block[k + 10 : k + 80].split("/")[0].strip()
    shape = (int(cards["NAXIS2"]), int(cards["NAXIS1"]))
    dtype = {"-32": ">f4", "16": ">i2"}[cards["BITPIX"]]
    pixels = np.frombuffer(data, dtype, shape[0] * shape[1], offset).reshape(shape)
    return (pixels.astype(np.float32) + np.float32(cards.get("BZERO", 0))).astype(np.float32)


@pytest.fixture(scope="module")
def demo(tmp_path_factory):
    folder = tmp_path_factory.mktemp("demo")
    subprocess.run([TOOL, "--demo", str(folder), "--overwrite"], check=True, capture_output=True)
    files = {"light": "light_01", "dark": "dark", "bias": "bias"}
    return folder, {role: read_fits(folder / f"{name}.fits") for role, name in files.items()}


def same_bits(a, b):
    return a.dtype == b.dtype == np.float32 and np.array_equal(a.view(np.uint32), b.view(np.uint32))


@pytest.mark.parametrize("bias_factor, method",
                         [(None, "plugin"), (0, "plugin"), (1, "plugin"), (3, "plugin"),
                          (None, "fit"), (1, "fit")])
def test_outputs_are_the_tools(demo, tmp_path, bias_factor, method):
    folder, frames = demo
    args = [TOOL, "--light", str(folder / "light_01.fits"), "--dark", str(folder / "dark.fits")]
    if bias_factor is not None:
        args += ["--bias", str(folder / "bias.fits"), "--bias-factor", str(bias_factor)]
    args += ["--subtract", "--out-dir", str(tmp_path), "--json", "--method", method]
    run = json.loads(subprocess.run(args, check=True, capture_output=True).stdout)

    bias = None if bias_factor is None else frames["bias"]
    result = tenvora.match(frames["light"], frames["dark"], bias, bias_factor or 0, subtract=True,
                           method=method)
    for name in ("glow", "hot", "matched", "corrected"):
        assert same_bits(getattr(result, name), read_fits(tmp_path / f"light_01_{name}.fits")), name
    levels = result.levels
    for part in ("glow", "hot"):
        for level in ("light", "dark", "ratio"):
            value = levels[f"{part}_{level}"]
            expected = run[part][level] if (part, level) == ("hot", "light") else np.float32(run[part][level])
            assert value == expected, (part, level)
    assert levels["darkest_block"] == (run["darkest_block"]["x"], run["darkest_block"]["y"])
    assert levels["method"] == run["method"] == method
    assert levels["glow_scale"] == np.float32(run["scales"]["glow"])
    assert levels["hot_scale"] == np.float32(run["scales"]["hot"])
    if method == "fit":
        assert levels["fit"]["used"] == run["fit"]["pixels"]["used"]
        assert levels["fit"]["glow_error"] == run["fit"]["glow_error"]
    assert len(levels["hot_pixels"]) == len(levels["hot_pixel_found"]) == 9


@pytest.mark.parametrize("light", ["light_01", "strong"])
@pytest.mark.parametrize("bias_factor", [None, 1])
def test_warnings_are_the_tools(demo, tmp_path, light, bias_factor):
    """The checks' codes, messages and numbers, as the tool gives them in --json; the demo's
    16-bit frames go in as 16-bit arrays, so saturation is judged on the same bounds."""
    from astropy.io import fits

    folder, frames = demo
    dark, bias = (frames[name].astype(np.uint16) for name in ("dark", "bias"))
    if light == "strong":
        pixels = (25 * (frames["dark"] - frames["bias"]) + frames["bias"]).astype(np.float32)
        fits.PrimaryHDU(pixels).writeto(tmp_path / "strong.fits")
        path = tmp_path / "strong.fits"
    else:
        pixels, path = frames["light"].astype(np.uint16), folder / "light_01.fits"
    args = [TOOL, "--light", str(path), "--dark", str(folder / "dark.fits"), "--subtract",
            "--out-dir", str(tmp_path / "out"), "--json"]
    if bias_factor is not None:
        args += ["--bias", str(folder / "bias.fits")]
    run = json.loads(subprocess.run(args, check=True, capture_output=True).stdout)

    result = tenvora.match(pixels, dark, None if bias_factor is None else bias, 1, subtract=True)
    assert result.warnings == run["warnings"]
    assert (light == "strong") == ("fit-scale-out-of-range" in repr(result))
    parts = tenvora.split_dark(dark, None if bias_factor is None else bias)
    split = tenvora.match(pixels, None, None if bias_factor is None else bias, 1, subtract=True,
                          dark_parts=parts)
    assert [w["code"] for w in split.warnings] == [w["code"] for w in result.warnings]


def test_split_dark_parts_pickled_match_as_the_dark(demo):
    frames = demo[1]
    light, dark, bias = frames["light"], frames["dark"], frames["bias"]
    whole = tenvora.match(light, dark, bias, 2, subtract=True, method="plugin")
    parts = pickle.loads(pickle.dumps(tenvora.split_dark(dark, bias)))
    for given_dark in (dark, None):
        split = tenvora.match(light, given_dark, bias, 2, subtract=True, dark_parts=parts,
                              method="plugin")
        for name in ("glow", "hot", "matched", "corrected"):
            assert same_bits(getattr(split, name), getattr(whole, name)), name
        assert split.levels == whole.levels
        assert split.warnings == whole.warnings
    # Fitted, the parts stand for a dark whose file is not at hand: the same scales
    # within a small part of their errors.
    fitted = tenvora.match(light, dark, bias, 2, subtract=True)
    from_parts = tenvora.match(light, None, bias, 2, subtract=True, dark_parts=parts)
    for scale in ("glow", "hot"):
        error = fitted.levels["fit"][f"{scale}_error"]
        assert abs(from_parts.levels[f"{scale}_scale"] - fitted.levels[f"{scale}_scale"]) < error
    assert tenvora.match(light, dark).corrected is None


@pytest.mark.parametrize("dtype", ["<f4", ">f4", "<f8", ">u2", "<i4"])
def test_inputs_are_never_written(demo, dtype):
    frames = demo[1]
    inputs = [np.array(frames[name], dtype=dtype) for name in ("light", "dark", "bias")]
    # A Fortran-ordered light is converted too.
    inputs[0] = np.asfortranarray(inputs[0])
    before = [a.copy() for a in inputs]
    result = tenvora.match(*inputs, bias_factor=2, subtract=True)
    tenvora.split_dark(*inputs[1:])
    for a, b in zip(inputs, before):
        assert a.dtype == b.dtype and a.tobytes() == b.tobytes()
    as_float = tenvora.match(*(a.astype(np.float32) for a in before), bias_factor=2, subtract=True)
    assert same_bits(result.corrected, as_float.corrected)


def frame(shape=(8, 10), dtype=np.float32):
    return np.zeros(shape, dtype)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: tenvora.match(frame(), frame((10, 8))), ValueError, "shapes differ"),
        (lambda: tenvora.match(frame(), frame(), frame((8, 11))), ValueError, "bias has shape (8, 11)"),
        (lambda: tenvora.match(frame((8,)), frame((8,))), ValueError, "2-D"),
        (lambda: tenvora.match(frame((2, 3, 4)), frame((2, 3, 4))), ValueError, "2-D"),
        (lambda: tenvora.match(frame((0, 10)), frame((0, 10))), ValueError, "empty"),
        (lambda: tenvora.match(frame(), frame(), frame(), 1000), ValueError, "0 to 999"),
        (lambda: tenvora.match(frame(), frame(), frame(), -1), ValueError, "0 to 999"),
        (lambda: tenvora.split_dark(frame(), None, 1000), ValueError, "0 to 999"),
        (lambda: tenvora.match(frame(), None), TypeError, "dark"),
        (lambda: tenvora.match(frame(dtype=complex), frame()), TypeError, "real numbers"),
        (lambda: tenvora.match(frame(dtype=object), frame()), TypeError, "real numbers"),
        (lambda: tenvora.match([[1.0]], [[1.0]]), TypeError, "numpy array"),
        (lambda: tenvora.match(frame(), None, dark_parts=frame()), TypeError, "(glow, hot)"),
        (
            lambda: tenvora.match(frame(), None, dark_parts=tenvora.split_dark(frame((8, 9)))),
            ValueError,
            "dark_parts glow has shape (8, 9)",
        ),
        (lambda: tenvora.combine([]), ValueError, "frames is empty"),
        (lambda: tenvora.combine([frame(), frame((8, 11))]), ValueError, "frames[1] has shape (8, 11)"),
        (lambda: tenvora.combine([frame()], "average"), ValueError, "sigma-clip, median, mean"),
        (lambda: tenvora.combine([frame()], kappa=0.5), ValueError, "kappa must be from 1 to 100"),
        (lambda: tenvora.combine([frame()], jobs=0), ValueError, "jobs must be from 1 to 256"),
        (lambda: tenvora.combine(["/nonexistent/f.fits"]), ValueError, "/nonexistent/f.fits"),
        (lambda: tenvora.combine([frame(dtype=complex)]), TypeError, "frames[0] must hold real numbers"),
    ],
)
def test_bad_input_is_refused(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert message in str(raised.value)


@pytest.mark.parametrize(
    "call",
    [lambda light: tenvora.match(light, light), lambda light: tenvora.combine([light] * 5, jobs=1)],
    ids=["match", "combine"],
)
def test_other_threads_run_during_a_call(call):
    light = np.random.default_rng(1).random((3000, 3000), np.float32)
    counter = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counter[0] += 1
            time.sleep(0)  # gives the lock up at once when the main thread waits for it

    # The main thread keeps the interpreter lock until it blocks or the module
    # releases it: the counter can only move while the stages run unlocked.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    worker = threading.Thread(target=count)
    try:
        worker.start()
        while counter[0] == 0:
            time.sleep(0.001)
        # A few calls, in case the machine is too busy to run the thread
        # within one; with the lock held it would advance in none.
        during = 0
        for _ in range(5):
            before = counter[0]
            call(light)
            during = counter[0] - before
            if during:
                break
    finally:
        stop.set()
        sys.setswitchinterval(interval)
        worker.join()
    assert during > 0


def planes_of(result):
    return [getattr(result, name) for name in ("glow", "hot", "matched", "corrected")]


def address(array):
    return array.__array_interface__["data"][0]


# The shapes follow one another as a user's frames might: one size again, a
# new size, then the first back; small (malloc) and huge-page blocks alike.
@pytest.mark.parametrize("shapes", [[(64, 48)] * 3, [(1100, 1000), (1100, 1000), (700, 1000), (1100, 1000)]])
def test_freed_outputs_are_reused_and_views_keep_theirs(shapes):
    rng = np.random.default_rng(7)
    previous = None
    for shape in shapes:
        light, dark = (rng.random(shape, np.float32) * 100 for _ in range(2))
        result = tenvora.match(light, dark, subtract=True)
        expected = [p.copy() for p in planes_of(result)]
        if previous is not None:
            # Only a view outlives the previous result: its plane is not taken.
            assert address(previous.base) not in map(address, planes_of(result))
            assert same_bits(previous, previous_values)
        freed = {address(p) for p in planes_of(result)}
        view = result.corrected[1:, 2:]
        previous_values = view.copy()
        del result
        # Arrays of the size made now would take the freed memory, were it
        # handed back to the system.
        others = [np.ones(shape, np.float32) for _ in range(4)]
        again = tenvora.match(light, dark, subtract=True)
        assert freed - {address(view.base)} <= {address(p) for p in planes_of(again)}
        for plane, before in zip(planes_of(again), expected):
            assert plane.flags.c_contiguous and plane.flags.writeable and same_bits(plane, before)
        assert same_bits(pickle.loads(pickle.dumps(again.matched)), again.matched)
        previous = view
        del again, others
