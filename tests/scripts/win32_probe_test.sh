#!/usr/bin/env bash
# The decision of scripts/win32-probe.sh, with stand-ins for the 32-bit loader
# and Wine: a token seen, a program the kernel cannot load, a missing Wine,
# and probes that start and then hang or fail.
set -uo pipefail
probe=$(cd "$(dirname "$0")/../.." && pwd)/scripts/win32-probe.sh
fakes=$(mktemp -d)
trap 'rm -rf "$fakes"' EXIT

fake() { # fake NAME BODY
  printf '#!/bin/sh\n%s\n' "$2" >"$fakes/$1"
  chmod +x "$fakes/$1"
}
fake loader_ok 'echo "ld.so (fake) stable release"'
fake loader_hangs 'sleep 30'
fake loader_fails 'echo "ld.so: broken" >&2; exit 3'
# An ELF header of no machine this kernel runs: "Exec format error".
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\377\377' >"$fakes/loader_foreign"
printf '\001\000\000\000%064d' 0 >>"$fakes/loader_foreign"
chmod +x "$fakes/loader_foreign"
fake wine_ok 'case "$1" in wineboot) exit 0 ;; *) echo tenvora-wine-probe-ok ;; esac'
fake wine_prefix_hangs 'case "$1" in wineboot) sleep 30 ;; *) echo tenvora-wine-probe-ok ;; esac'
fake wine_silent 'exit 0'

failures=0
# expect STATUS OUTPUT-PATTERN LOADER WINE
expect() {
  local want_status=$1 pattern=$2 out status
  out=$(TENVORA_LOADER32=$3 TENVORA_WINE=$4 TENVORA_PROBE_TIMEOUT=2 TENVORA_PREFIX_TIMEOUT=2 \
    TENVORA_STATE_DIR=$fakes/state bash "$probe" probe.exe 2>&1)
  status=$?
  if [ "$status" -ne "$want_status" ] || ! grep -qE -- "$pattern" <<<"$out"; then
    echo "FAIL: loader $3, wine $4: status $status (want $want_status), output: $out"
    failures=$((failures + 1))
  fi
}

expect 0 '^can$' "$fakes/loader_ok" "$fakes/wine_ok"
expect 1 '^cannot: .*Exec format error' "$fakes/loader_foreign" "$fakes/wine_ok"
expect 1 '^cannot: no 32-bit loader' "$fakes/no_such_loader" "$fakes/wine_ok"
expect 1 '^cannot: Wine is not installed' "$fakes/loader_ok" "$fakes/no_such_wine"
expect 2 'did not finish within 2 s' "$fakes/loader_hangs" "$fakes/wine_ok"
expect 2 'did not finish within 2 s' "$fakes/loader_ok" "$fakes/wine_prefix_hangs"
expect 2 'started and failed \(status 3\)' "$fakes/loader_fails" "$fakes/wine_ok"
expect 2 'without printing "tenvora-wine-probe-ok"' "$fakes/loader_ok" "$fakes/wine_silent"

[ "$failures" -eq 0 ] && echo "win32-probe: all decisions as expected"
exit $((failures > 0))
