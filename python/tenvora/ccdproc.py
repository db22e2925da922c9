"""`tenvora.match` and `tenvora.combine` on astropy CCDData.

The outputs of `match` carry the light's header (and WCS) with the keywords and
HISTORY lines tenvora-match writes, the light's unit and the masks of the inputs
combined; `combine` makes a master with the header tenvora-master writes.
Uncertainties are not propagated: the outputs have none.
"""

import textwrap
import warnings
from dataclasses import dataclass
from typing import Optional

import numpy as np
from astropy.io import fits
from astropy.nddata import CCDData

import tenvora

# Cards that describe a file's structure and data, which the writer sets.
STRUCTURE = {"SIMPLE", "XTENSION", "BITPIX", "NAXIS", "EXTEND", "PCOUNT", "GCOUNT", "BZERO",
             "BSCALE", "BLANK", "CHECKSUM", "DATASUM", "DATAMIN", "DATAMAX", "BUNIT"}
# The keywords the tool writes, from its table: name -> the card's comment.
COMMENTS = {name: comment for name, comment, _, _ in tenvora.OUTPUT_KEYWORDS}
# The levels and ratios in the header: keyword, entry of the levels.
LEVELS = (("GLOWLGT", "glow_light"), ("GLOWDRK", "glow_dark"), ("GLOWRAT", "glow_ratio"),
          ("HOTLGT", "hot_light"), ("HOTDRK", "hot_dark"), ("HOTRAT", "hot_ratio"))
TITLES = {"glow": "Glow Dark Frame", "hot": "Hot Dark Frame", "corrected": "Corrected Image"}


@dataclass
class MatchResult:
    """`tenvora.MatchResult` with CCDData in place of the arrays."""

    glow: CCDData
    hot: CCDData
    matched: CCDData
    corrected: Optional[CCDData]
    levels: dict
    warnings: list  # as tenvora.MatchResult's: dicts of code, message and numbers


def float_text(value):
    """The shortest text that reads back as the same float32, as the tool writes it."""
    if not np.isfinite(value):
        return "NaN" if np.isnan(value) else ("inf" if value > 0 else "-inf")
    for digits in range(6, 18):
        text = "%.*g" % (digits, value)
        if np.float32(float(text)) == np.float32(value):
            return text
    return text


def _check_type(frame, name, needed):
    if frame is None and not needed:
        return
    if not isinstance(frame, CCDData):
        hint = ("; tenvora.match takes numpy arrays" if isinstance(frame, np.ndarray)
                else "; CCDData.read(path, unit='adu') reads a FITS file" if isinstance(frame, str)
                else "")
        raise TypeError(f"{name} must be an astropy CCDData, not {type(frame).__name__}{hint}")


def double_text(value):
    """The shortest text that reads back as the same double, as the tool writes it."""
    for digits in range(15, 18):
        text = "%.*g" % (digits, value)
        if float(text) == value:
            return text
    return text


def _add_history(header, text):
    """HISTORY cards broken between words, as the tool writes them."""
    for line in textwrap.wrap(text, 72, break_on_hyphens=False) or [""]:
        header.add_history(line)


def exposure(header):
    """The exposure time in seconds: the first of tenvora.EXPOSURE_KEYWORDS the header
    holds as a finite number, as the tool reads it; None without one."""
    for key in tenvora.EXPOSURE_KEYWORDS:
        value = header.get(key)
        if isinstance(value, (int, float)) and not isinstance(value, bool) and np.isfinite(value):
            return float(value)
    return None


def _same_unit(frame, light, name):
    if frame is not None and frame.unit is not None and light.unit is not None \
            and frame.unit != light.unit:
        raise ValueError(f"{name} is in {frame.unit}, the light in {light.unit}: the units differ")


def _mask(frames):
    masks = [f.mask for f in frames if f is not None and f.mask is not None]
    if not masks:
        return None
    combined = np.zeros(np.shape(frames[0].data), bool)
    for mask in masks:
        combined |= np.broadcast_to(np.asarray(mask, bool), combined.shape)
    return combined


def warning_codes(warnings):
    """The codes of the warnings, each once, joined by commas: the outputs' TVWARN."""
    return ",".join(dict.fromkeys(w["code"] for w in warnings))


def _light_cards(meta):
    """The light's header cards, from a FITS header or from a plain mapping (a CCDData
    made in memory), whose entries are (keyword, value) or (keyword, (value, comment))."""
    if isinstance(meta, fits.Header):
        return list(meta.cards)
    cards = []
    for key, value in (meta or {}).items():
        value, comment = value if isinstance(value, tuple) and len(value) == 2 else (value, "")
        cards.append(fits.Card(str(key), value, comment))
    return cards


def _not_finite(value):
    """"NaN" or "infinite" for a number FITS cannot hold, else None."""
    if not isinstance(value, (float, np.floating)) or np.isfinite(value):
        return None
    return "NaN" if np.isnan(value) else "infinite"


def _steps(light_header, bias_taken):
    """CALSTAT of the corrected light: the light's own letters, then B and D."""
    steps = str(light_header.get("CALSTAT", ""))
    for step in ("B" if bias_taken else "", "D"):
        if step and step not in steps:
            steps += step
    return steps


def _header(light_header, title, names, bias_factor, levels, warnings):
    header = fits.Header()
    for card in _light_cards(light_header):
        key = card.keyword
        if key in COMMENTS or key in STRUCTURE or (key.startswith("NAXIS") and key[5:].isdigit()):
            continue
        header.append(card, end=True)
    creator = "tenvora-match " + tenvora.__version__
    corrected = title == TITLES["corrected"]
    bias = names["bias"] is not None

    def put(name, value):
        # NaN and infinities, which FITS values cannot hold, as a card without a value
        # whose comment says why, as the tool writes them.
        what = _not_finite(value)
        header[name] = ((value, COMMENTS[name]) if what is None
                        else (fits.card.UNDEFINED, f"{what}: {COMMENTS[name]}"))

    put("CREATOR", creator)
    put("IMAGETYP", "Light Frame" if corrected else "Dark Frame")
    put("TVIMAGE", title)
    put("LIGHTFIL", names["light"])
    put("DARKFILE", names["dark"])
    if levels["dark_exposure"] is not None:
        put("DARKEXP", levels["dark_exposure"])
    if bias:
        put("BIASFILE", names["bias"])
        put("BIASFACT", bias_factor)
    if corrected:
        put("CALSTAT", _steps(light_header, bias and bias_factor > 0))
    for name, level in LEVELS:
        put(name, levels[level])
    if levels["exposure_ratio"] is not None:
        put("EXPRATIO", levels["exposure_ratio"])
    put("DARKBLKX", levels["darkest_block"][0])
    put("DARKBLKY", levels["darkest_block"][1])
    put("TVWARN", warning_codes(warnings))
    put("TVMETHOD", levels["method"])
    put("GLOWSCL", levels["glow_scale"])
    put("HOTSCL", levels["hot_scale"])
    fit = levels["fit"]
    if fit is not None:
        for name, key in (("GLOWSERR", "glow_error"), ("HOTSERR", "hot_error"),
                          ("FITSKY0", "sky_level"), ("FITSKYX", "sky_x"), ("FITSKYY", "sky_y"),
                          ("FITNPIX", "used"), ("FITNCLIP", "clipped"), ("FITNLEFT", "left_out"),
                          ("FITNOISE", "residual_noise")):
            if fit[key] is not None:
                put(name, fit[key])
    _add_history(header, f"{creator}: {title} for light {names['light']}")
    _add_history(header, f"dark {names['dark']}")
    _add_history(header, f"bias {names['bias']}, factor {bias_factor}" if bias else "no bias")
    _add_history(header, f"glow ratio {float_text(levels['glow_ratio'])}, "
                         f"hot ratio {float_text(levels['hot_ratio'])}")
    if levels["exposure_ratio"] is not None:
        _add_history(header, f"exposure ratio {double_text(levels['exposure_ratio'])} (light "
                             f"{double_text(exposure(light_header))} s, dark "
                             f"{double_text(levels['dark_exposure'])} s)")
    if fit is None:
        _add_history(header, "scales: the plug-in's ratios")
    elif fit["solved"]:
        def error(key):
            return "NaN" if fit[key] is None else double_text(fit[key])

        _add_history(header, f"scales fitted: glow {float_text(levels['glow_scale'])} +- "
                             f"{error('glow_error')}, hot "
                             f"{float_text(levels['hot_scale'])} +- {error('hot_error')}")
    else:
        _add_history(header, "too few pixels for the fit: scales the plug-in's ratios")
    return header


def match(light, dark, bias=None, bias_factor=1, subtract=False, dark_parts=None, *,
          light_name="light", dark_name="dark", bias_name="bias", dark_exposure=None,
          method="fit"):
    """`tenvora.match` on CCDData: light, dark and bias are CCDData (dark may be None
    with dark_parts, the (glow, hot) pair of `tenvora.split_dark`).

    Each output is a CCDData in the light's unit, with the light's header
    followed by the keywords and HISTORY lines tenvora-match writes (the names
    given are those the header cites), and masked where the light, the dark (when
    given) or the bias is masked. Uncertainties are not propagated: the outputs have none.
    Inputs in other units than the light's raise ValueError, inputs that are not CCDData
    TypeError. The levels also hold `dark_exposure` (seconds: from the dark's header, or
    dark_exposure when dark is None) and `exposure_ratio`, the light's exposure time over
    it (`tenvora.exposure_ratio`); None when unknown. method is "fit" (the default: both
    scales fitted over the frame) or "plugin" (the plug-in's levels), as for
    `tenvora.match`. The checks' warnings, with the exposure ratio's, are on the result
    and, as codes, in each output's TVWARN.
    """
    for frame, name, needed in ((light, "light", True), (dark, "dark", dark_parts is None),
                                (bias, "bias", False)):
        _check_type(frame, name, needed)
    for frame, name in ((dark, "dark"), (bias, "bias")):
        _same_unit(frame, light, name)
    if dark is not None:
        dark_exposure = exposure(dark.header)
    ratio = tenvora.exposure_ratio(exposure(light.header), dark_exposure)
    result = tenvora.match(light.data, None if dark is None else dark.data,
                           None if bias is None else bias.data, bias_factor, subtract, dark_parts,
                           method=method, exposure_ratio=ratio)
    for key, level in LEVELS:
        what = _not_finite(result.levels[level])
        if what is not None:
            warnings.warn(f"{light_name}: {key} is {what}: written without a value")
    levels = dict(result.levels, dark_exposure=dark_exposure, exposure_ratio=ratio)
    names = {"light": light_name, "dark": dark_name, "bias": None if bias is None else bias_name}
    titles = dict(TITLES, matched="Matched Dark Frame" if bias is None else "Matched Dark Frame + Bias")
    mask = _mask([light, dark, bias])

    def frame(kind):
        data = getattr(result, kind)
        if data is None:
            return None
        header = _header(light.meta, titles[kind], names, bias_factor, levels, result.warnings)
        # astropy holds a file's WCS apart from its header; it goes on to the outputs.
        return CCDData(data, unit=light.unit, meta=header, wcs=light.wcs,
                       mask=None if mask is None else mask.copy())

    return MatchResult(frame("glow"), frame("hot"), frame("matched"), frame("corrected"), levels,
                       result.warnings)


MASTER_TITLES = {"bias": "Master Bias", "dark": "Master Dark"}


def combine(frames, method="sigma-clip", kappa=3.0, kind=None, *, names=None, jobs=None):
    """`tenvora.combine` on CCDData: a master of frames of one unit and shape.

    Masked pixels are left out of their pixel's combination, as values that are
    not finite are. The master is a CCDData in the frames' unit, masked where no
    frame had a value, with the cards every frame's header holds alike and the
    keywords tenvora-master writes: IMAGETYP ('Master Bias' or 'Master Dark',
    from kind, "bias" or "dark", when given), CREATOR, NCOMBINE, COMBMETH, CLIPKAPP
    (sigma-clip) and a HISTORY line per frame (names, when given, are cited).
    """
    frames = list(frames)
    if not frames:
        raise ValueError("frames is empty")
    if kind is not None and kind not in MASTER_TITLES:
        raise ValueError(f"kind must be 'bias' or 'dark', not {kind!r}")
    unit = frames[0].unit
    for k, frame in enumerate(frames[1:], 1):
        if frame.unit is not None and unit is not None and frame.unit != unit:
            raise ValueError(f"frames[{k}] is in {frame.unit}, frames[0] in {unit}: the units differ")
    arrays = []
    for frame in frames:
        data = np.asarray(frame.data, np.float32)
        if frame.mask is not None:
            data = np.where(np.broadcast_to(np.asarray(frame.mask, bool), data.shape), np.float32(np.nan), data)
        arrays.append(data)
    master = tenvora.combine(arrays, method, kappa, jobs)
    headers = [f.header if isinstance(f.header, fits.Header) else fits.Header(list(f.header.items()))
               for f in frames]
    header = fits.Header()
    for card in headers[0].cards:
        key = card.keyword
        if key in STRUCTURE or (key.startswith("NAXIS") and key[5:].isdigit()) or key in ("HISTORY", "COMMENT"):
            continue
        if all(key in h and h[key] == card.value for h in headers[1:]):
            header.append(card, end=True)
    creator = "tenvora-master " + tenvora.__version__
    if kind is not None:
        header["IMAGETYP"] = (MASTER_TITLES[kind], "type of image")
    header["CREATOR"] = (creator, "program that made this file")
    header["NCOMBINE"] = (len(frames), "number of frames combined")
    header["COMBMETH"] = (method, "how the frames were combined")
    if method == "sigma-clip":
        header["CLIPKAPP"] = (float(kappa), "clipping limit in robust sigmas")
    names = names or [f"frame {k + 1}" for k in range(len(frames))]
    header.add_history(f"{creator}: {len(frames)} frames, {method}")
    for k, name in enumerate(names):
        header.add_history(f"frame {k + 1}: {name}")
    empty = np.isnan(master)
    return CCDData(master, unit=frames[0].unit, meta=header, mask=empty if empty.any() else None)
