#!/usr/bin/env bash
# End-to-end tests of the shipped DLL: every scenario under scenarios/ runs
# once in the Windows test host (tenvora.dll, its real dialog, under Wine on
# a virtual display) and once in the native host (the same sources over the
# headless window layer). The two must leave the same files, byte for byte:
# images, host-command log, control states, message boxes, results. A
# scenario's .expect file names lines that the Windows run must show
# ("FILE: LINE"), so that the dialog rules are checked on their own too.
# Every image the scenario opens must come out of both runs as it was loaded,
# since the plug-in only reads the frames it is given.
# Prints "N passed, M failed" last; exits non-zero on a failure.
set -uo pipefail
source "$(dirname "$0")/wine_env.sh"

build_hosts || exit 1
start_display || exit 1
started=$(date +%s%N)
make_prefix || exit 1

passed=0
failed=0
fail() {
  echo "FAIL $1"
  printf '     %s\n' "${@:2}"
  failed=$((failed + 1))
}

# run_loaded SCENARIO OUTDIR: the scenario's images as loaded, from the native
# host on the same images with Cancel as the only step (raw files are reached
# through links beside the copy).
run_loaded() {
  local dir=$work/loaded raw
  mkdir -p "$dir"
  for raw in "$(dirname "$1")"/*.f32; do [ -e "$raw" ] && ln -sf "$raw" "$dir/"; done
  { grep -E '^[[:space:]]*(window|image|active)([[:space:]]|$)' "$1"; echo cancel; } >"$dir/${1##*/}"
  run_native "$dir/${1##*/}" "$2"
}

for scenario in "$root"/tests/wine/scenarios/*.scn; do
  name=$(basename "$scenario" .scn)
  out=$work/out/$name
  run_native "$scenario" "$out/native" || { fail "$name" "native host: $(cat "$out/native.stdout")"; continue; }
  run_dll "$scenario" "$out/dll" || { fail "$name" "Windows host: $(cat "$out/dll.stdout")"; continue; }
  run_loaded "$scenario" "$out/loaded" || { fail "$name" "images as loaded: $(cat "$out/loaded.stdout")"; continue; }
  problems=()
  # Same set of files, each the same bytes (the Go time aside).
  files_native=$(cd "$out/native" && ls | grep -v '^go_time.txt$')
  files_dll=$(cd "$out/dll" && ls | grep -v '^go_time.txt$')
  [ "$files_native" = "$files_dll" ] || problems+=("different files: $(echo $files_native) / $(echo $files_dll)")
  for f in $files_native; do
    [ -f "$out/dll/$f" ] && ! cmp -s "$out/native/$f" "$out/dll/$f" || continue
    if [ "${f%.f32}" = "$f" ]; then
      problems+=("$f differs")
      continue
    fi
    problems+=("$f differs: $(echo $("$compare_planes" "$out/native/$f" "$out/dll/$f"))")
  done
  for f in $(cd "$out/loaded" && ls image_*.f32); do
    for host in native dll; do
      cmp -s "$out/loaded/$f" "$out/$host/$f" ||
        problems+=("$host: $f is not as loaded: $(echo $("$compare_planes" "$out/loaded/$f" "$out/$host/$f"))")
    done
  done
  if [ -f "${scenario%.scn}.expect" ]; then
    while IFS= read -r line; do
      [ -z "$line" ] || [ "${line:0:1}" = "#" ] && continue
      file=${line%%: *}
      want=${line#*: }
      grep -Fxq -- "$want" "$out/dll/$file" 2>/dev/null || problems+=("$file lacks: $want")
    done <"${scenario%.scn}.expect"
  fi
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $name ($(cat "$out/dll/go_time.txt") under Wine, $(cat "$out/native/go_time.txt") native)"
    passed=$((passed + 1))
  else
    fail "$name" "${problems[@]}"
    [ -f "$out/dll/host_log.txt" ] && diff "$out/native/host_log.txt" "$out/dll/host_log.txt" | head -5
  fi
done

elapsed_ms=$((($(date +%s%N) - started) / 1000000))
printf 'wine part: %d.%03d s (prefix and %d scenarios in both hosts)\n' \
  $((elapsed_ms / 1000)) $((elapsed_ms % 1000)) $((passed + failed))
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
