#!/usr/bin/env bash
# Builds the native benchmarks and runs them on 6000 x 4000 frames, then
# prints each figure as a multiple of the memcpy of one plane measured in the
# same run. Extra arguments go to the benchmark program (for example
# --benchmark_filter=separate).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(($(nproc) < 2 ? $(nproc) : 2))
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target tenvora_benchmarks >/dev/null
out=build/native/benchmarks/results.json
build/native/benchmarks/tenvora_benchmarks --benchmark_out="$out" --benchmark_out_format=json "$@"
python3 - "$out" <<'PY'
import json, sys
runs = [b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("run_type") == "iteration"]
memcpy = next((b["real_time"] for b in runs if b["name"].startswith("BM_memcpy")), None)
print("\n| What | ms | x memcpy |\n|---|---:|---:|")
for b in runs:
    name = b["name"].split("/iterations")[0].split("/min_time")[0].split("/manual_time")[0].replace("/0/", "/").replace("/1/", "/")
    ratio = "%.2f" % (b["real_time"] / memcpy) if memcpy else "-"
    print("| %s | %.1f | %s |" % (name, b["real_time"], ratio))
PY
