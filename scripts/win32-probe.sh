#!/usr/bin/env bash
# Decides whether this machine can run the Windows tests, on positive evidence
# only: the 32-bit loader runs and prints its token, the Wine prefix is made,
# and Wine runs our probe program, which prints its token.
#
#   scripts/win32-probe.sh PROBE_EXE
#
# Prints "can" and exits 0, or prints "cannot: <reason>" and exits 1 when a
# probe cannot start. A probe that starts and then fails or hangs is a fault
# of a capable machine, never a reason to skip: the script says so on stderr
# and exits 2. The prefix is $WINEPREFIX.
#
# For tests: TENVORA_LOADER32, TENVORA_WINE, TENVORA_PROBE_TIMEOUT (seconds a
# probe may take) and TENVORA_PREFIX_TIMEOUT (seconds the first Wine start,
# which makes the prefix, may take) replace the defaults.
set -uo pipefail
probe_exe=${1:?usage: win32-probe.sh PROBE_EXE}
loader=${TENVORA_LOADER32:-/lib/ld-linux.so.2}
wine=${TENVORA_WINE:-wine}
probe_timeout=${TENVORA_PROBE_TIMEOUT:-60}
prefix_timeout=${TENVORA_PREFIX_TIMEOUT:-600}

cannot() {
  echo "cannot: $*"
  exit 1
}
broken() {
  echo "win32-probe: $*" >&2
  exit 2
}

# run SECONDS TOKEN WHAT COMMAND...: 0 when the token came, 1 when the command
# could not start (reason in $out), 2 (after saying why) otherwise.
run() {
  local seconds=$1 token=$2 what=$3 status
  shift 3
  # Through bash's exec: timeout's own would hand a program the kernel cannot
  # load to /bin/sh as a script instead of failing.
  out=$(timeout -k 5 "$seconds" bash -c 'exec "$@"' "$what" "$@" 2>&1)
  status=$?
  case $status in
    0) grep -qF -- "$token" <<<"$out" && return 0
       broken "$what exited 0 without printing \"$token\": $(head -n3 <<<"$out")" ;;
    124 | 137) broken "$what started and did not finish within $seconds s" ;;
    126 | 127) out=$(grep -m1 . <<<"$out" | sed "s/^.*: line [0-9]*: //"); return 1 ;;
    *) broken "$what started and failed (status $status): $(head -n3 <<<"$out")" ;;
  esac
}

[ -e "$loader" ] || cannot "no 32-bit loader ($loader)"
run "$probe_timeout" "ld.so" "the 32-bit loader" "$loader" --version ||
  cannot "the 32-bit loader does not start: ${out:-no reason given}"

if ! command -v "$wine" >/dev/null; then
  reason="Wine is not installed"
  failed=${TENVORA_STATE_DIR:-/var/lib/tenvora}/win32-packages.failed
  [ -e "$failed" ] && reason+=" ($(head -n1 "$failed"))"
  cannot "$reason"
fi
# The first start makes the prefix and may take minutes on a slow machine.
run "$prefix_timeout" "" "Wine making its prefix" "$wine" wineboot --init ||
  cannot "Wine does not start: ${out:-no reason given}"
run "$probe_timeout" "tenvora-wine-probe-ok" "Wine running $probe_exe" "$wine" "$probe_exe" ||
  cannot "Wine cannot start $probe_exe: ${out:-no reason given}"
echo can
