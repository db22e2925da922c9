#!/usr/bin/env bash
# tenvora-master against its own read-only pass, ccdproc.combine and Siril's
# median stack, one core each, on the same unsigned 16-bit frames this script
# makes (raw darks: bias, dark current, hot pixels, cosmic rays); and its peak
# memory for FRAMES and for BIG frames.
# Installs python3-ccdproc and siril (with the desktop libraries it brings)
# when they are missing; this script is the only place that does.
#   benchmarks/master_vs_peers.sh [FRAMES [BIG [WIDTH HEIGHT]]]
#   default 20 and 50 frames of 6000 x 4000 (96 MB planes; 2.4 GB of files)
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-20}
big=${2:-50}
width=${3:-6000}
height=${4:-4000}
core=${TENVORA_BENCH_CORE:-1}

shout() { printf '\n*** %s ***\n\n' "$*" >&2; }
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
installed_lists=""
install() {  # package, what it gives
  if [ -z "$installed_lists" ]; then
    # A mirror half-way through a sync fails the update; the old lists may do.
    $sudo apt-get update >&2 || echo "apt-get update failed; trying the package lists there are" >&2
    installed_lists=yes
  fi
  $sudo apt-get install -y --no-install-recommends "$1" >&2
}
have_ccdproc=yes
if ! /usr/bin/python3 -c 'import ccdproc' 2>/dev/null; then
  echo "ccdproc not found: installing python3-ccdproc" >&2
  install python3-ccdproc && /usr/bin/python3 -c 'import ccdproc' ||
    { shout "CANNOT INSTALL python3-ccdproc: no comparison with ccdproc.combine"; have_ccdproc=""; }
fi
have_siril=yes
if ! command -v siril-cli >/dev/null; then
  echo "siril-cli not found: installing siril" >&2
  install siril && command -v siril-cli >/dev/null ||
    { shout "CANNOT INSTALL siril: no comparison with Siril's median stack"; have_siril=""; }
fi

cmake --preset native >/dev/null
cmake --build --preset native -j 2 --target tenvora-master master_read_pass >/dev/null
master="$PWD/build/native/tools/tenvora_master/tenvora-master"
read_pass="$PWD/build/native/benchmarks/master_read_pass"

dir=$(mktemp -d "${TMPDIR:-/tmp}/tenvora-master-bench-XXXXXX")
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/all" "$dir/few" "$dir/out"
/usr/bin/python3 - "$dir/all" "$width" "$height" "$big" <<'PY'
import sys
import numpy as np
out, w, h, n = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = np.random.default_rng(26)
y, x = np.mgrid[0:h, 0:w]
fixed = (1000 + 30 * np.exp(-((x / w) ** 2 + (y / h - 1) ** 2) * 4)).astype(np.float32)
hot = rng.choice(w * h, w * h // 100, replace=False)
fixed.flat[hot] += rng.uniform(50, 40000, hot.size).astype(np.float32)
for k in range(n):
    frame = fixed + rng.normal(0, 7, (h, w)).astype(np.float32)
    rays = rng.choice(w * h, w * h // 5000, replace=False)
    frame.flat[rays] += rng.uniform(200, 20000, rays.size).astype(np.float32)
    cards = ["SIMPLE  =                    T", "BITPIX  =                   16",
             "NAXIS   =                    2", "NAXIS1  = %20d" % w, "NAXIS2  = %20d" % h,
             "BZERO   =                32768", "BSCALE  =                    1",
             "IMAGETYP= 'Dark Frame'", "EXPTIME =                 60.0",
             "CCD-TEMP= %20.2f" % (-10 + 0.01 * k), "DATE-OBS= '2026-12-09T22:%02d:%02d'" % (k // 60, k % 60),
             "END"]
    head = "".join(c.ljust(80) for c in cards)
    head += " " * (-len(head) % 2880)
    raw = (np.clip(np.round(frame), 0, 65535).astype(np.int32) - 32768).astype(">i2").tobytes()
    with open("%s/dark_%03d.fits" % (out, k + 1), "wb") as f:
        f.write(head.encode("ascii"))
        f.write(raw)
        f.write(b"\0" * (-len(raw) % 2880))
PY
for k in $(seq 1 "$frames"); do ln -s "$dir/all/$(printf 'dark_%03d.fits' "$k")" "$dir/few/"; done
cat "$dir"/all/*.fits >/dev/null  # every run reads the files from memory

# Runs a command on one core under /usr/bin/time -v; prints "seconds peak_MB".
timed() {
  local log="$dir/time.log"
  /usr/bin/time -v -o "$log" taskset -c "$core" "$@" >"$dir/run.out" 2>"$dir/run.err" ||
    { cat "$dir/run.err" >&2; shout "FAILED: $*"; return 1; }
  /usr/bin/python3 - "$log" <<'PY'
import sys
text = open(sys.argv[1]).read()
wall = [l for l in text.splitlines() if "Elapsed (wall clock)" in l][0].split()[-1]
seconds = sum(float(p) * 60 ** i for i, p in enumerate(reversed(wall.split(":"))))
peak = int([l for l in text.splitlines() if "Maximum resident set size" in l][0].split()[-1])
print("%.2f %.0f" % (seconds, peak / 1024))
PY
}

read -r read_s read_mb < <(timed "$read_pass" "$dir/few")
read -r clip_s clip_mb < <(timed "$master" --jobs 1 --overwrite --out "$dir/out/clip.fits" "$dir/few")
read -r median_s median_mb < <(timed "$master" --jobs 1 --overwrite --method median \
  --out "$dir/out/median.fits" "$dir/few")
read -r big_s big_mb < <(timed "$master" --jobs 1 --overwrite --out "$dir/out/big.fits" "$dir/all")

ccdproc_s=""
if [ -n "$have_ccdproc" ]; then
  cat >"$dir/ccdproc_combine.py" <<'PY'
import glob, sys
import ccdproc
files = sorted(glob.glob(sys.argv[1] + "/*.fits"))
master = ccdproc.combine(files, method="average", sigma_clip=True, unit="adu")
master.write(sys.argv[2], overwrite=True)
PY
  read -r ccdproc_s ccdproc_mb < <(OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1 \
    timed /usr/bin/python3 "$dir/ccdproc_combine.py" "$dir/few" "$dir/out/ccdproc.fits") ||
    ccdproc_s=""
fi

siril_s=""
if [ -n "$have_siril" ]; then
  mkdir "$dir/seq"
  # Siril stacks its own sequence, converted from the files before the timing.
  cat >"$dir/convert.ssf" <<SSF
requires 1.0.0
cd $dir/few
convert dark -out=$dir/seq
SSF
  cat >"$dir/stack.ssf" <<SSF
requires 1.0.0
setcpu 1
cd $dir/seq
stack dark median -nonorm -out=$dir/out/siril_median.fits
SSF
  if siril-cli -s "$dir/convert.ssf" >"$dir/siril-convert.log" 2>&1; then
    read -r siril_s siril_mb < <(timed siril-cli -s "$dir/stack.ssf") || siril_s=""
  else
    cat "$dir/siril-convert.log" >&2
    shout "siril-cli could not convert the frames: no comparison with Siril"
  fi
fi

/usr/bin/python3 - "$frames" "$big" "$width" "$height" "$read_s" "$clip_s" "$clip_mb" \
  "$median_s" "$big_s" "$big_mb" "${ccdproc_s:-}" "${ccdproc_mb:-}" "${siril_s:-}" "${siril_mb:-}" <<'PY'
import platform, sys
a = sys.argv[1:]
n, big, w, h = int(a[0]), int(a[1]), int(a[2]), int(a[3])
read_s, clip_s, clip_mb, median_s, big_s, big_mb = map(float, a[4:10])
ccd_s, ccd_mb, siril_s, siril_mb = a[10:14]
plane_mb = w * h * 4 / 2 ** 20
limit = 2 * plane_mb * 1.05
cpu = [l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")][0]
print(f"{n} (and {big}) unsigned 16-bit {w} x {h} frames, read from memory, one core each")
print(f"machine: {cpu}, {platform.system()} {platform.release()}")
print()
print("| run | seconds | ratio | peak memory (MiB) |")
print("|---|---|---|---|")
print(f"| tenvora-master's read-only pass, {n} frames | {read_s:.2f} | 1.00 | |")
print(f"| tenvora-master sigma-clip, {n} frames | {clip_s:.2f} | {clip_s / read_s:.2f} x read | {clip_mb:.0f} |")
print(f"| tenvora-master --method median, {n} frames | {median_s:.2f} | {median_s / read_s:.2f} x read | |")
if ccd_s:
    print(f"| ccdproc.combine(average, sigma_clip=True), {n} frames | {float(ccd_s):.2f} | "
          f"{float(ccd_s) / clip_s:.1f} x tenvora-master sigma-clip | {float(ccd_mb):.0f} |")
else:
    print("| ccdproc.combine | not run (python3-ccdproc could not be installed) | | |")
if siril_s:
    print(f"| siril-cli stack median (setcpu 1), {n} frames | {float(siril_s):.2f} | "
          f"{float(siril_s) / median_s:.1f} x tenvora-master median | {float(siril_mb):.0f} |")
else:
    print("| siril-cli stack median | not run (siril could not be installed or failed) | | |")
print(f"| tenvora-master sigma-clip, {big} frames | {big_s:.2f} | | {big_mb:.0f} |")
print()
print(f"memory limit (2 planes of 4 bytes a pixel + 5 %): {limit:.0f} MiB; "
      f"{n} frames {'within' if clip_mb <= limit else 'OVER'}, {big} frames {'within' if big_mb <= limit else 'OVER'}")
PY
