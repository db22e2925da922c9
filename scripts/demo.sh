#!/usr/bin/env bash
# The main job, from a fresh clone: installs what the native build needs, builds the
# native configuration and runs tenvora-match on a synthetic night: a dark, a
# bias and six lights with drifting, known glow and hot-pixel scales (FITS
# files, corrected lights with PNG previews, the session report night.csv and
# the plot night_ratios.png in build/demo, or in the directory given as the
# first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh demo
cmake --preset native >/dev/null
cmake --build --preset native -j 2 --target tenvora-match tenvora-master tenvora tenvora_benchmarks >/dev/null
exec build/native/tools/tenvora_match/tenvora-match --demo "${1:-build/demo}" --preview --overwrite
