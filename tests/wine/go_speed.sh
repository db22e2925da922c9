#!/usr/bin/env bash
# Times Go on a 6000 x 4000 frame in tenvora.dll under Wine and in the native
# build (the pipeline, from its first host command to its last), and prints
# both with their ratio. Not part of the tests: it takes a while and speed is
# not asserted. Usage: tests/wine/go_speed.sh [runs, default 3]
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
runs=${1:-3}

build_hosts
start_display
make_prefix
scenario=$root/tests/wine/speed_6000x4000.scn
for i in $(seq "$runs"); do
  run_native "$scenario" "$work/native$i" --no-images
  run_dll "$scenario" "$work/dll$i" --no-images
  # go_time.txt: "go SPAN s plug-in OWN s"; OWN leaves out the host's commands.
  read -r _ native _ _ native_own _ <"$work/native$i/go_time.txt"
  read -r _ dll _ _ dll_own _ <"$work/dll$i/go_time.txt"
  awk -v n="$native" -v d="$dll" -v no="$native_own" -v do_="$dll_own" -v i="$i" 'BEGIN {
    printf "run %d: Go %.3f s in the DLL under Wine, %.3f s native, ratio %.2f;", i, d, n, d / n
    printf " plug-in alone %.3f s and %.3f s, ratio %.2f\n", do_, no, do_ / no }'
done
