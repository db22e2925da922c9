#!/usr/bin/env bash
# The main job, from a fresh clone: installs what the native build needs, builds the
# native configuration and runs tenvora-match on a synthetic light, dark and
# bias with known glow and hot-pixel scales (FITS files, outputs and PNG
# previews in build/demo, or in the directory given as the first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh demo
cmake --preset native >/dev/null
cmake --build --preset native -j 2 --target tenvora-match >/dev/null
exec build/native/tools/tenvora_match/tenvora-match --demo "${1:-build/demo}" --preview --overwrite
