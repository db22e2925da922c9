#!/usr/bin/env bash
# Decides whether this machine can run the Windows tests, and under which
# Wine, on positive evidence only: the 32-bit loader runs and prints its
# token, the Wine prefix is made, and Wine runs our probe program, which
# prints its token. The Wine is the system's where it is installed, else that
# of the 32-bit chroot scripts/install-deps.sh made (scripts/win32-chroot.sh).
#
#   scripts/win32-probe.sh PROBE_EXE
#
# Prints "can: WHICH WINE" and, on the next line, the Wine command to use
# (wineserver and wineboot lie beside it), and exits 0; or prints
# "cannot: this machine cannot run 32-bit programs: <reason>" (the 32-bit
# loader does not start) or "cannot: Wine could not be installed: <reason>"
# and exits 1. A probe that starts and then fails or hangs is a fault of a
# capable machine, never a reason to skip: the script says so on stderr and
# exits 2. The prefix is $WINEPREFIX.
#
# For tests: TENVORA_LOADER32, TENVORA_WINE (the system's Wine), TENVORA_UID,
# TENVORA_STATE_DIR, TENVORA_PROBE_TIMEOUT (seconds a probe may take) and
# TENVORA_PREFIX_TIMEOUT (seconds the first Wine start, which makes the
# prefix, may take) replace the defaults.
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

# The chroot's Wine sees the probe's folder too.
probe_dir=$(cd "$(dirname "$probe_exe")" 2>/dev/null && pwd) &&
  export TENVORA_WINE_SHARE=$probe_dir${TENVORA_WINE_SHARE:+:$TENVORA_WINE_SHARE}
state_dir=${TENVORA_STATE_DIR:-/var/lib/tenvora}
chroot_dir=$state_dir/win32-chroot
first_line() { [ -e "$1" ] && head -n1 "$1"; }

# Without a loader of the machine's, that of the chroot tells.
[ -e "$loader" ] || loader=$chroot_dir/root/lib/ld-linux.so.2
if [ -e "$loader" ]; then
  run "$probe_timeout" "ld.so" "the 32-bit loader" "$loader" --version ||
    cannot "this machine cannot run 32-bit programs: the 32-bit loader does not start: ${out:-no reason given}"
elif [ -e "$chroot_dir/no-32-bit" ]; then
  cannot "this machine cannot run 32-bit programs: $(first_line "$chroot_dir/no-32-bit")"
elif command -v "$wine" >/dev/null; then
  cannot "this machine cannot run 32-bit programs: no 32-bit loader (${TENVORA_LOADER32:-/lib/ld-linux.so.2})"
else
  loader=
fi

# Why the system has no Wine, with what became of the chroot.
not_installed() {
  local why
  why="Wine could not be installed: $(first_line "$state_dir/win32-packages.failed" || echo "Wine is not installed")"
  if [ -e "$chroot_dir/failed" ]; then
    why+="; nor in a 32-bit chroot: $(first_line "$chroot_dir/failed")"
  elif [ ! -e "$chroot_dir/complete" ] && [ "$uid" -ne 0 ]; then
    why+="; Wine in a 32-bit chroot needs root to set up (run scripts/install-deps.sh as root)"
  fi
  [ -n "$loader" ] || why+="; no 32-bit loader (${TENVORA_LOADER32:-/lib/ld-linux.so.2})"
  echo "$why"
}
uid=${TENVORA_UID:-$(id -u)}

if system_wine=$(command -v "$wine"); then
  wine=$system_wine
  which="the system's Wine ($wine)"
elif [ -e "$chroot_dir/complete" ] && [ -x "$chroot_dir/bin/wine" ]; then
  wine=$chroot_dir/bin/wine
  which="Wine in the 32-bit chroot $chroot_dir ($(first_line "$chroot_dir/complete"))"
else
  cannot "$(not_installed)"
fi
# The first start makes the prefix and may take minutes on a slow machine.
run "$prefix_timeout" "" "Wine making its prefix" "$wine" wineboot --init ||
  cannot "Wine could not be installed: $which does not start: ${out:-no reason given}"
run "$probe_timeout" "tenvora-wine-probe-ok" "Wine running $probe_exe" "$wine" "$probe_exe" ||
  cannot "Wine could not be installed: $which cannot start $probe_exe: ${out:-no reason given}"
echo "can: $which"
echo "$wine"
