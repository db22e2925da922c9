"""A night of lights matched against one dark and bias, in this process or on a
Dask cluster: the dark is split once, each light is matched on its own and
its output written with tenvora-match's name and header.
"""

import os
import re
import tempfile
from collections import Counter

from astropy.io import fits
from astropy.nddata import CCDData

import tenvora
from tenvora import ccdproc

EXTENSIONS = (".fits", ".fit", ".fts")
ROW_KEYS = ("glow_light", "glow_dark", "glow_ratio", "hot_light", "hot_dark", "hot_ratio",
            "exposure_ratio")


def stem(path):
    """The light's name without its FITS extension (and .gz or .fz), as the tool names
    outputs."""
    name = os.path.basename(path)
    low = name.lower()
    if low.endswith((".gz", ".fz")):
        name, low = name[:-3], low[:-3]
    for extension in EXTENSIONS:
        if low.endswith(extension) and len(low) > len(extension):
            return name[: -len(extension)]
    return name


def natural_key(name):
    """Sorts names as tenvora-match does, each run of digits as a number: light_2 before
    light_10. A run of digits weighs as the character '0' against other characters."""
    tokens = [(ord("0"), len(run.lstrip("0")), run.lstrip("0")) if "0" <= run[0] <= "9" else (ord(run),)
              for run in re.findall(r"[0-9]+|[^0-9]", name)]
    return tokens, name


def _made_by_us(path):
    """An output of an earlier run or a master of ours; a file whose header cannot be
    read is not one (it fails as a light, on its own)."""
    try:
        creator = str(fits.getheader(path).get("CREATOR", ""))
        return creator.startswith(("tenvora-match", "tenvora-master"))
    except Exception:
        return False


def lights_in(directory, leave_out=()):
    """The directory's FITS files in natural order (natural_key), without hidden files, those left out
    and the tool's outputs (so outputs written beside the lights are not taken as
    lights on the next run)."""
    skip = {os.path.realpath(p) for p in leave_out}
    paths = []
    for name in sorted(os.listdir(directory), key=natural_key):
        path = os.path.join(directory, name)
        low = name.lower().removesuffix(".gz").removesuffix(".fz")
        if name.startswith(".") or not low.endswith(EXTENSIONS) or not os.path.isfile(path):
            continue
        if os.path.realpath(path) not in skip and not _made_by_us(path):
            paths.append(path)
    return paths


def read(path):
    """A frame as CCDData; files without BUNIT are taken as ADU."""
    return CCDData.read(path, unit=None if "BUNIT" in fits.getheader(path) else "adu")


def _identity(path):
    try:
        st = os.stat(path)
    except OSError:
        return None
    return st.st_dev, st.st_ino


def _place(written, target, overwrite, inputs):
    """Puts a written file in place, never over an input, and without overwrite never
    over any file."""
    if _identity(target) in inputs:
        raise ValueError(f"{target}: is one of the input files; an output never replaces an input")
    if overwrite:
        os.replace(written, target)
        return
    try:
        os.link(written, target)  # never replaces an existing target
    except FileExistsError:
        raise FileExistsError(f"{target}: exists already (overwrite replaces it)") from None
    except OSError:
        # A file system without hard links: checked, then renamed.
        if os.path.lexists(target):
            raise FileExistsError(f"{target}: exists already (overwrite replaces it)") from None
        os.rename(written, target)
        return
    os.unlink(written)


def output_path(path, out_dir, subtract):
    kind = "corrected" if subtract else "matched"
    return os.path.join(out_dir, f"{stem(path)}_{kind}.fits")


def match_file(path, dark_parts, out_dir, dark_name, dark=None, bias=None, bias_name="bias",
               bias_factor=1, subtract=False, overwrite=False, dark_exposure=None,
               inputs=frozenset(), method="fit"):
    """Matches one light file (method "fit" or "plugin") and writes `<stem>_corrected.fits`
    with subtract, else `<stem>_matched.fits`; returns its report row, with the checks'
    warnings. The output is written under a temporary name first: it appears whole or not
    at all."""
    light = read(path)
    (height, width), (dark_height, dark_width) = light.data.shape, dark_parts[0].shape
    if (height, width) != (dark_height, dark_width):
        raise ValueError(f"is {width} x {height}, the dark frame {dark_width} x {dark_height}")
    result = ccdproc.match(light, dark, bias, bias_factor, subtract, dark_parts,
                           light_name=os.path.basename(path), dark_name=dark_name,
                           bias_name=bias_name, dark_exposure=dark_exposure, method=method)
    target = output_path(path, out_dir, subtract)
    fd, written = tempfile.mkstemp(prefix=".tenvora-night-", suffix=".fits", dir=out_dir)
    os.close(fd)
    try:
        getattr(result, "corrected" if subtract else "matched").write(written, overwrite=True)
        _place(written, target, overwrite, inputs)
    finally:
        if os.path.exists(written):
            os.unlink(written)
    levels = result.levels
    row = {"file": path}
    row.update((key, levels[key]) for key in ROW_KEYS)
    row["darkest_x"], row["darkest_y"] = levels["darkest_block"]
    row["method"] = levels["method"]
    row["glow_scale"], row["hot_scale"] = levels["glow_scale"], levels["hot_scale"]
    fit = levels["fit"] or {}
    for key in ("glow_error", "hot_error", "sky_level", "sky_x", "sky_y", "used", "clipped",
                "left_out", "residual_noise"):
        row[f"fit_{key}"] = fit.get(key)
    row["warnings"] = result.warnings
    return row


def light_row(path, *args, **kwargs):
    """match_file's row, or for a light that cannot be read, matched or written
    {"file": path, "problem": "<path>: <what is wrong>"}: one light never ends the night."""
    try:
        return match_file(path, *args, **kwargs)
    except Exception as e:
        text = str(e) or type(e).__name__
        return {"file": path, "problem": text if path in text else f"{path}: {text}"}


def check_outputs(lights, dark_path, bias_path, out_dir, subtract, overwrite):
    """Refuses before any work outputs that would replace an input (with overwrite too)
    and, without overwrite, outputs that exist; returns the inputs' identities."""
    inputs = {_identity(p) for p in [dark_path, bias_path, *lights] if p is not None} - {None}
    for light in lights:
        target = output_path(light, out_dir, subtract)
        if _identity(target) in inputs:
            raise ValueError(f"{target}: is one of the input files; an output never replaces an input")
        if not overwrite and os.path.lexists(target):
            raise FileExistsError(f"{target}: exists already (overwrite replaces it)")
    return frozenset(inputs)


def match_night(lights, dark_path, out_dir, bias_path=None, bias_factor=1, subtract=False,
                overwrite=False, client=None, method="fit"):
    """Matches the lights against the dark (and bias), the scales fitted (method "fit")
    or the plug-in's levels ("plugin"), and returns a row per light in the order given: its report row, or for a light that failed {"file", "problem"} (it
    leaves no output). With a Dask client the split dark and the bias go to every
    worker once and the lights are matched there; without one, here in turn.

    Raises before any work for a bad dark or bias, lights whose outputs would take one
    name, outputs that would replace an input, and existing outputs without overwrite."""
    taken = Counter(stem(light) for light in lights)
    for light in lights:
        if taken[stem(light)] > 1:
            raise ValueError(f"{light}: another light's outputs would take its names {stem(light)}_*")
    inputs = check_outputs(lights, dark_path, bias_path, out_dir, subtract, overwrite)
    bias = None if bias_path is None else read(bias_path)
    dark = read(dark_path)
    parts = tenvora.split_dark(dark.data, None if bias is None else bias.data, bias_factor)
    # The split parts stand for the dark's pixels; the dark itself goes along only
    # for its mask.
    dark_exposure = ccdproc.exposure(dark.header)
    dark = dark if dark.mask is not None else None
    settings = dict(out_dir=out_dir, dark_name=os.path.basename(dark_path),
                    dark_exposure=dark_exposure,
                    bias_name=None if bias_path is None else os.path.basename(bias_path),
                    bias_factor=bias_factor, subtract=subtract, overwrite=overwrite,
                    inputs=inputs, method=method)
    if client is None:
        return [light_row(light, parts, dark=dark, bias=bias, **settings) for light in lights]
    # In a list, so each goes as one piece rather than element by element.
    on_workers = client.scatter([parts, dark, bias], broadcast=True)
    futures = client.map(light_row, lights, dark_parts=on_workers[0], dark=on_workers[1],
                         bias=on_workers[2], pure=False, **settings)
    return client.gather(futures)
