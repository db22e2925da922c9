#!/usr/bin/env bash
# Times tenvora-match against siril-cli's optimised dark calibration
# ("preprocess -bias -dark -opt"), one core each, on the same camera-sized
# unsigned 16-bit frames: a bias, a dark and N copies of one light; then
# tenvora-match's throughput over the N lights with --jobs 2 against
# --jobs 1, and one light with --light (all four outputs): its time and its
# peak memory in planes of the frame.
# Installs siril (and the desktop libraries it brings) if it is missing; this
# script is the only place that does. TENVORA_MATCH=path times another build
# of the tool.
#   benchmarks/vs_siril.sh [FRAMES [WIDTH HEIGHT]]   default 4 frames, 6000 x 4000
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-4}
width=${2:-6000}
height=${3:-4000}

shout() { printf '\n*** %s ***\n\n' "$*" >&2; }

if ! command -v siril-cli >/dev/null; then
  echo "siril-cli not found: installing the siril package" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # A mirror half-way through a sync fails the update; the old lists may do.
  $sudo apt-get update >&2 || echo "apt-get update failed; trying the package lists there are" >&2
  if ! $sudo apt-get install -y --no-install-recommends siril >&2 ||
    ! command -v siril-cli >/dev/null; then
    shout "CANNOT INSTALL siril: no comparison made (apt-get install siril failed)"
    exit 1
  fi
fi

tool=${TENVORA_MATCH:-}
if [ -z "$tool" ]; then
  cmake --preset native >/dev/null
  cmake --build --preset native -j 2 --target tenvora-match >/dev/null
  tool="$PWD/build/native/tools/tenvora_match/tenvora-match"
fi

dir=$(mktemp -d /tmp/tenvora-vs-siril-XXXXXX)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/lights" "$dir/out"

# Bias, dark (bias + glow + hot pixels) and a light (the dark scaled, plus
# sky and stars), as unsigned 16-bit FITS (BITPIX 16, BZERO 32768).
/usr/bin/python3 - "$dir" "$width" "$height" "$frames" <<'PY'
import shutil, sys
import numpy as np
out, w, h, n = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = np.random.default_rng(16)
def write(path, data):
    cards = ["SIMPLE  =                    T", "BITPIX  =                   16",
             "NAXIS   =                    2", "NAXIS1  = %20d" % w, "NAXIS2  = %20d" % h,
             "BZERO   =                32768", "BSCALE  =                    1", "END"]
    head = "".join(c.ljust(80) for c in cards)
    head += " " * (-len(head) % 2880)
    raw = (np.clip(data, 0, 65535).astype(np.int32) - 32768).astype(">i2").tobytes()
    with open(path, "wb") as f:
        f.write(head.encode("ascii"))
        f.write(raw)
        f.write(b"\0" * (-len(raw) % 2880))
y, x = np.mgrid[0:h, 0:w].astype(np.float32)
bias = 500 + rng.normal(0, 5, (h, w)).astype(np.float32)
glow = 200 * np.exp(-((x / w) ** 2 + (y / h - 1) ** 2) * 4)
hot = np.zeros((h, w), np.float32)
hot.flat[rng.choice(w * h, w * h // 2000, replace=False)] = rng.uniform(500, 20000, w * h // 2000)
dark = bias + glow + hot
light = bias + 1.3 * glow + 1.2 * hot + 800 + rng.normal(0, 20, (h, w)).astype(np.float32)
stars = rng.choice(w * h, 4000, replace=False)
light.flat[stars] += rng.uniform(1000, 30000, 4000)
write(out + "/bias.fits", bias)
write(out + "/dark.fits", dark)
write(out + "/lights/light_00001.fit", light)
for k in range(2, n + 1):
    shutil.copyfile(out + "/lights/light_00001.fit", out + "/lights/light_%05d.fit" % k)
PY

# Siril's own sequence of the lights, made before the timing.
cat >"$dir/convert.ssf" <<SSF
requires 1.0.0
cd $dir/lights
convert light -out=$dir/seq
SSF
cat >"$dir/preprocess.ssf" <<SSF
requires 1.0.0
setcpu 1
cd $dir/seq
preprocess light -bias=$dir/bias.fits -dark=$dir/dark.fits -opt
SSF
siril-cli -s "$dir/convert.ssf" >"$dir/siril-convert.log" 2>&1 ||
  { cat "$dir/siril-convert.log" >&2; shout "siril-cli could not convert the lights"; exit 1; }

seconds() { /usr/bin/python3 -c 'import time; print(time.monotonic())'; }
start=$(seconds)
siril-cli -s "$dir/preprocess.ssf" >"$dir/siril-preprocess.log" 2>&1 ||
  { cat "$dir/siril-preprocess.log" >&2; shout "siril-cli preprocess failed"; exit 1; }
siril=$(/usr/bin/python3 -c "import time; print(time.monotonic() - $start)")
echo "siril-cli's last lines:" && tail -n 4 "$dir/siril-preprocess.log" && echo

# Each run writes new files, with the last run's gone and the disk idle.
settle() { rm -rf "$dir/out" && mkdir "$dir/out" && sync; }
batch() {
  settle
  local start
  start=$(seconds)
  "$tool" --dark "$dir/dark.fits" --bias "$dir/bias.fits" --bias-factor 1 --subtract --jobs "$1" \
    --out-dir "$dir/out" "$dir"/lights/*.fit >/dev/null 2>"$dir/tenvora.log" ||
    { cat "$dir/tenvora.log" >&2; shout "tenvora-match --jobs $1 failed"; exit 1; }
  /usr/bin/python3 -c "import time; print(time.monotonic() - $start)"
}
one=$(batch 1)
two=$(batch 2)
settle
/usr/bin/time -f "%e %M" -o "$dir/light.time" "$tool" --light "$dir/lights/light_00001.fit" \
  --dark "$dir/dark.fits" --bias "$dir/bias.fits" --bias-factor 1 --subtract \
  --out-dir "$dir/out" >/dev/null 2>"$dir/tenvora.log" ||
  { cat "$dir/tenvora.log" >&2; shout "tenvora-match --light failed"; exit 1; }

/usr/bin/python3 - "$frames" "$width" "$height" "$siril" "$one" "$two" $(cat "$dir/light.time") <<'PY'
import sys
n, w, h = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
siril, one, two = float(sys.argv[4]) / n, float(sys.argv[5]) / n, float(sys.argv[6]) / n
light_s, light_kb = float(sys.argv[7]), float(sys.argv[8])
print("%d frames of %d x %d, unsigned 16-bit, bias factor 1, subtract" % (n, w, h))
print("siril-cli preprocess -opt (setcpu 1): %.2f s per frame" % siril)
print("tenvora-match --jobs 1:               %.2f s per frame" % one)
print("ratio (siril / tenvora-match):        %.1f" % (siril / one))
print("tenvora-match --jobs 2:               %.2f s per frame" % two)
print("throughput --jobs 2 / --jobs 1:       %.2f" % (one / two))
print("one light, --light, all four outputs: %.2f s, peak %.1f planes of %d x %d floats"
      % (light_s, light_kb * 1024 / (w * h * 4), w, h))
PY
