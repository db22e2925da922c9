#!/usr/bin/env bash
# Sets up this machine and runs every test: the native build, the native build
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the 32-bit Windows
# build, whose test programs run under Wine; then the end-to-end run of
# tenvora.dll in the Windows test host against the native build, and a short
# run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# At most two jobs: the machine's cores are shared.
jobs=$(($(nproc) < 2 ? $(nproc) : 2))
# A Wine prefix of our own, made on first use; no Mono or Gecko prompts. The
# Windows tests create no visible window, so Wine needs no display.
export WINEPREFIX="$PWD/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

for preset in native native-asan windows-i686; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

echo "== end-to-end: tenvora.dll under Wine against the native build"
bash tests/wine/run_e2e.sh

echo "== fuzz"
bash scripts/fuzz.sh short
