#!/usr/bin/env bash
# Sets up this machine and runs every test: the native build, the native build
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the 32-bit Windows
# build, whose test programs run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
# A Wine prefix of our own, made on first use; no Mono or Gecko prompts.
export WINEPREFIX="$PWD/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

for preset in native native-asan windows-i686; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
