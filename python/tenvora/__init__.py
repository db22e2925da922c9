"""Matched-dark calibration: a dark frame split into glow and hot pixels, each
scaled to the level measured in the light.

`match` and `split_dark` work on numpy arrays, and `combine` makes master
frames from raw ones (arrays or FITS file names, read a strip at a time); `tenvora.ccdproc` on astropy
CCDData, and `tenvora.night` matches a directory of lights, serially or on a
Dask cluster.

The output arrays of `match` and `split_dark` live in memory the module keeps:
when an output and every view of it are freed, its memory is kept for the
next call of the same frame size instead of going back to the system, as
fresh memory is slow to touch the first time. Up to one call's output planes
are kept, 4 planes of 4 bytes a pixel (384 MB for 6000 x 4000 frames); a call
of another frame size frees them.
"""

from tenvora._tenvora import (EXPOSURE_KEYWORDS, OUTPUT_KEYWORDS, MatchResult, __version__,
                              combine, exposure_ratio, match, split_dark)

__all__ = ["EXPOSURE_KEYWORDS", "OUTPUT_KEYWORDS", "MatchResult", "combine", "exposure_ratio",
           "match", "split_dark", "__version__"]
