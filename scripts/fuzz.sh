#!/usr/bin/env bash
# Runs the libFuzzer targets of the fuzz preset (build/fuzz).
#
#   scripts/fuzz.sh short                  every target for a fixed number of
#                                          executions over its corpus (the
#                                          test command's step, a minute or so)
#   scripts/fuzz.sh long TARGET SECONDS    one target (kernels, dialog or
#                                          fits_read) for that long; the corpus
#                                          grows in build/fuzz/corpus/TARGET, the log
#                                          is build/fuzz/TARGET-long.log
#
# A finding stops the run with a non-zero status and leaves the input as
# build/fuzz/artifacts/TARGET-crash-* (or -timeout-, -oom-); reproduce it with
# build/fuzz/fuzz/TARGET_fuzz FILE. Builds the preset first.
set -euo pipefail
cd "$(dirname "$0")/.."

# Inputs up to 8 KiB (a 64 x 64 frame takes 4 KiB at a byte a pixel); an
# input that takes 10 seconds is a hang.
flags=(-max_len=8192 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)
# Executions of the short run: under a minute per target on this machine.
declare -A short_runs=([kernels]=60000 [dialog]=300000 [fits_read]=20000)

build() {
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j 2 >/dev/null
  mkdir -p build/fuzz/artifacts
}

binary() { echo "build/fuzz/fuzz/$1_fuzz"; }

case "${1:-}" in
  short)
    build
    for target in kernels dialog fits_read; do
      # New inputs go to a scratch folder, never into the committed corpus.
      scratch=$(mktemp -d)
      echo "fuzz: $target, ${short_runs[$target]} executions"
      status=0
      "$(binary "$target")" "${flags[@]}" -seed=1 -runs="${short_runs[$target]}" \
        -artifact_prefix="build/fuzz/artifacts/$target-" "$scratch" "fuzz/corpus/$target" \
        >"build/fuzz/$target-short.log" 2>&1 || status=$?
      rm -rf "$scratch"
      if [ "$status" -ne 0 ]; then
        tail -n 40 "build/fuzz/$target-short.log"
        echo "fuzz: $target found a fault (log: build/fuzz/$target-short.log)" >&2
        exit 1
      fi
      grep -E '^Done' "build/fuzz/$target-short.log"
    done
    echo "fuzz: 3 passed, 0 failed"
    ;;
  long)
    target=${2:?target: kernels, dialog or fits_read}
    seconds=${3:?seconds}
    build
    corpus="build/fuzz/corpus/$target"
    mkdir -p "$corpus"
    exec "$(binary "$target")" "${flags[@]}" -max_total_time="$seconds" \
      -artifact_prefix="build/fuzz/artifacts/$target-" "$corpus" "fuzz/corpus/$target" \
      >"build/fuzz/$target-long.log" 2>&1
    ;;
  *)
    sed -n '2,14p' "$0" >&2
    exit 2
    ;;
esac
