#!/usr/bin/env bash
# The main job for now: sets up this machine, builds the 32-bit plug-in DLL
# and loads it under Wine as a host would (register it, check its exports and
# its dialog template). Leaves build/windows-i686/tenvora.dll behind.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

export WINEPREFIX="$PWD/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j 2 --target tenvora dll_smoke
ctest --preset windows-i686 -R '^dll_' -V | grep -E 'exports:|imports:|dll_smoke:|tests passed'
echo "built: build/windows-i686/tenvora.dll"
