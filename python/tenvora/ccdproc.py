"""`tenvora.match` on astropy CCDData.

The outputs carry the light's header with the keywords and HISTORY lines
tenvora-match writes, the light's unit and the masks of the inputs combined.
Uncertainties are not propagated: the outputs have none.
"""

from dataclasses import dataclass
from typing import Optional

import numpy as np
from astropy.io import fits
from astropy.nddata import CCDData

import tenvora

# Cards that describe a file's structure and data, which the writer sets.
STRUCTURE = {"SIMPLE", "XTENSION", "BITPIX", "NAXIS", "EXTEND", "PCOUNT", "GCOUNT", "BZERO",
             "BSCALE", "BLANK", "CHECKSUM", "DATASUM", "DATAMIN", "DATAMAX", "BUNIT"}
# The keywords the tool sets itself (OBJECT only when the light has none).
OURS = {"CREATOR", "IMAGETYP", "LIGHT", "DARK", "BIAS", "BIASFACT", "GLOWLGT", "GLOWDRK",
        "GLOWRAT", "HOTLGT", "HOTDRK", "HOTRAT", "DARKBLKX", "DARKBLKY", "TVWARN"}
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


def _header(light_header, title, names, bias_factor, levels, warnings):
    header = fits.Header()
    for card in light_header.cards:
        key = card.keyword
        if key in OURS or key in STRUCTURE or (key.startswith("NAXIS") and key[5:].isdigit()):
            continue
        header.append(card, end=True)
    creator = "tenvora-match " + tenvora.__version__
    if "OBJECT" not in header:
        header["OBJECT"] = (title, "image title")
    header["CREATOR"] = (creator, "program that made this file")
    header["IMAGETYP"] = ("Light Frame" if title == TITLES["corrected"] else "Dark Frame",
                          "type of image")
    header["LIGHT"] = (names["light"], "light frame")
    header["DARK"] = (names["dark"], "dark frame")
    if names["bias"] is not None:
        header["BIAS"] = (names["bias"], "bias frame")
        header["BIASFACT"] = (bias_factor, "bias multiplication factor")
    header["GLOWLGT"] = (levels["glow_light"], "glow level of the light")
    header["GLOWDRK"] = (levels["glow_dark"], "glow level of the dark's glow component")
    header["GLOWRAT"] = (levels["glow_ratio"], "glow scale: GLOWLGT / GLOWDRK")
    header["HOTLGT"] = (levels["hot_light"], "hot-pixel level of the light")
    header["HOTDRK"] = (levels["hot_dark"], "hot-pixel level of the dark's hot component")
    header["HOTRAT"] = (levels["hot_ratio"], "hot-pixel scale: HOTLGT / HOTDRK")
    header["DARKBLKX"] = (levels["darkest_block"][0], "darkest 5x5 block of the light: column")
    header["DARKBLKY"] = (levels["darkest_block"][1], "darkest 5x5 block: row (0 = FITS row 1)")
    header["TVWARN"] = (warning_codes(warnings), "codes of the checks' warnings")
    header.add_history(f"{creator}: {title} for light {names['light']}")
    header.add_history(f"dark {names['dark']}")
    header.add_history("no bias" if names["bias"] is None
                       else f"bias {names['bias']}, factor {bias_factor}")
    header.add_history(f"glow ratio {float_text(levels['glow_ratio'])}, "
                       f"hot ratio {float_text(levels['hot_ratio'])}")
    return header


def match(light, dark, bias=None, bias_factor=1, subtract=False, dark_parts=None, *,
          light_name="light", dark_name="dark", bias_name="bias", dark_exposure=None):
    """`tenvora.match` on CCDData: light, dark and bias are CCDData (dark may be None
    with dark_parts, the (glow, hot) pair of `tenvora.split_dark`).

    Each output is a CCDData in the light's unit, with the light's header
    followed by the keywords and HISTORY lines tenvora-match writes (the names
    given are those the header cites), and masked where the light, the dark (when
    given) or the bias is masked. Uncertainties are not propagated: the outputs have none.
    Inputs in other units than the light's raise ValueError, inputs that are not
    CCDData TypeError. The levels also hold `exposure_ratio`, the light's exposure
    time over the dark's (`tenvora.exposure_ratio`; the dark's from its header, or
    dark_exposure in seconds when dark is None). The checks' warnings, with the
    exposure ratio's, are on the result and, as codes, in each output's TVWARN.
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
                           exposure_ratio=ratio)
    levels = dict(result.levels, exposure_ratio=ratio)
    names = {"light": light_name, "dark": dark_name, "bias": None if bias is None else bias_name}
    titles = dict(TITLES, matched="Matched Dark Frame" if bias is None else "Matched Dark Frame + Bias")
    mask = _mask([light, dark, bias])

    def frame(kind):
        data = getattr(result, kind)
        if data is None:
            return None
        header = _header(light.header, titles[kind], names, bias_factor, levels, result.warnings)
        return CCDData(data, unit=light.unit, meta=header,
                       mask=None if mask is None else mask.copy())

    return MatchResult(frame("glow"), frame("hot"), frame("matched"), frame("corrected"), levels,
                       result.warnings)
