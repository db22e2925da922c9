# Sourced by the end-to-end scripts: builds what they run, starts a virtual
# X display (the machine's Xvfb; the chroot's Wine reaches its socket through
# the shared /tmp) and makes a Wine prefix in a temporary folder; everything
# is ended and removed on exit. The Wine is $TENVORA_WINE as scripts/test.sh
# passes it on, or else the one scripts/win32-probe.sh chooses. Sets: root,
# work, native_host, dll_host, compare_planes.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
jobs=$(($(nproc) < 2 ? $(nproc) : 2))

build_hosts() {
  local preset target
  for preset in native windows-i686; do
    target="scenario_host wine_probe"
    [ "$preset" = native ] && target="scenario_host_native compare_planes"
    cmake --preset "$preset" >/dev/null
    # shellcheck disable=SC2086
    cmake --build --preset "$preset" -j "$jobs" --target $target >/dev/null
  done
  native_host=$root/build/native/testhost/scenario_host_native
  compare_planes=$root/build/native/tests/wine/compare_planes
  dll_host=$root/build/windows-i686/scenario_host.exe
}

work=$(mktemp -d "${TMPDIR:-/tmp}/tenvora-e2e.XXXXXX")
xvfb_pid=
cleanup() {
  if [ -n "${TENVORA_WINE:-}" ] && [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    # wineserver lies beside the chosen wine.
    local server=wineserver
    case $TENVORA_WINE in */*) server=${TENVORA_WINE%/*}/wineserver ;; esac
    "$server" -k 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A display number that no X server holds or has locked.
start_display() {
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  local i
  for i in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; return 1; }
    sleep 0.1
  done
  export DISPLAY=":$n"
}

# A fresh prefix. Its windows are unmanaged: with no window manager on the
# display, Wine would otherwise wait two seconds for one at every hidden
# window (each message box and the ended dialog).
make_prefix() {
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export TENVORA_WINE_SHARE=$root${TENVORA_WINE_SHARE:+:$TENVORA_WINE_SHARE}
  if [ -z "${TENVORA_WINE:-}" ]; then
    local verdict
    verdict=$(bash "$root/scripts/win32-probe.sh" "$root/build/windows-i686/tests/wine/wine_probe.exe") ||
      { echo "no Wine to run the Windows host: ${verdict#cannot: }" >&2; return 1; }
    TENVORA_WINE=$(sed -n 2p <<<"$verdict")
    echo "${verdict%%$'\n'*}" | sed 's/^can: /Wine used: /'
  fi
  export TENVORA_WINE
  "$TENVORA_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

# run_dll SCENARIO OUTDIR [host options...]: the Windows host under Wine.
run_dll() {
  local scenario=$1 out=$2
  shift 2
  mkdir -p "$out"
  (cd "$out" && "$TENVORA_WINE" "$dll_host" "$@" "Z:$scenario" . >"$out.stdout" 2>&1)
}

# run_native SCENARIO OUTDIR [host options...]
run_native() {
  local scenario=$1 out=$2
  shift 2
  mkdir -p "$out"
  "$native_host" "$@" "$scenario" "$out" >"$out.stdout" 2>&1
}
