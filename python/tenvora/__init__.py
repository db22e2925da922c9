"""Matched-dark calibration: a dark frame split into glow and hot pixels, each
scaled to the level measured in the light.

`match` and `split_dark` work on numpy arrays; `tenvora.ccdproc` on astropy
CCDData, and `tenvora.night` matches a directory of lights, serially or on a
Dask cluster.
"""

from tenvora._tenvora import MatchResult, __version__, match, split_dark

__all__ = ["MatchResult", "match", "split_dark", "__version__"]
