#!/usr/bin/env bash
# Takes docs/dialog.png: the real dialog of tenvora.dll under Wine on a
# virtual display, after frames were chosen with Subtract Bias on. Not part
# of the tests; installs netpbm for the conversion when it is missing.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
command -v xwdtopnm >/dev/null || { apt-get update -qq && apt-get install -y -qq netpbm; } >/dev/null

build_hosts
start_display
make_prefix
out=$work/shot
mkdir -p "$out"
run_dll "$root/tests/wine/screenshot.scn" "$out" --pause-after 6 &
host=$!
for _ in $(seq 600); do
  [ -s "$out/paused" ] && break
  sleep 0.1
done
read -r x y width height < <(tr -d '\r' <"$out/paused")
xwd -root -silent -display "$DISPLAY" | xwdtopnm 2>/dev/null |
  pnmcut -left "$x" -top "$y" -width "$width" -height "$height" | pnmtopng >"$root/docs/dialog.png"
touch "$out/resume"
wait "$host"
echo "wrote docs/dialog.png (${width} x ${height})"
