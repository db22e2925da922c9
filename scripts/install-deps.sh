#!/usr/bin/env bash
# Installs, on a Debian machine and as root, what the build and the tests use.
# Does nothing (and says nothing) when all of it is already there.
#
#   scripts/install-deps.sh        everything: the demo's group, the test group
#                                  and, where it can be had, the 32-bit group
#   scripts/install-deps.sh demo   only what the native build of the programs
#                                  and the Python package needs (scripts/demo.sh)
#
# The 32-bit group (Wine) is optional: when it cannot be installed the reason
# is kept in $TENVORA_STATE_DIR/win32-packages.failed and later runs do not try
# again (delete that file to retry). Every other package must install.
set -euo pipefail

demo_group=(
  cmake g++ make pkg-config libcfitsio-dev libpng-dev zlib1g-dev
  libcli11-dev
  # The session report (JSON) and its plot.
  nlohmann-json3-dev libcairo2-dev
  # The native configure also builds the tests and benchmarks.
  libgtest-dev libgmock-dev libbenchmark-dev
  # The Python package and the README's examples of it (astropy CCDData,
  # Dask), for Debian's /usr/bin/python3.
  pybind11-dev python3-dev python3-numpy python3-astropy python3-dask python3-distributed
)
test_group=(
  clang-format clang libclang-rt-14-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  xvfb x11-apps
  # The Python package's tests.
  python3-pytest
)
win32_group=(wine wine32:i386)

state_dir=${TENVORA_STATE_DIR:-/var/lib/tenvora}
win32_failed=$state_dir/win32-packages.failed

say() { echo "install-deps: $*" >&2; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing_of() {
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}

groups=(demo)
[ "${1:-all}" = demo ] || groups+=(test win32)

missing=()
want_win32=
for group in "${groups[@]}"; do
  if [ "$group" = win32 ]; then
    [ -e "$win32_failed" ] && continue
    mapfile -t m < <(missing_of "${win32_group[@]}")
    [ ${#m[@]} -gt 0 ] && want_win32=1
  elif [ "$group" = demo ]; then
    mapfile -t m < <(missing_of "${demo_group[@]}")
    missing+=("${m[@]}")
  else
    mapfile -t m < <(missing_of "${test_group[@]}")
    missing+=("${m[@]}")
  fi
done
[ ${#missing[@]} -eq 0 ] && [ -z "$want_win32" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  say "missing packages (${missing[*]} ${want_win32:+${win32_group[*]}}); run this script as root"
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive

if [ -n "$want_win32" ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
fi
# A mirror in the middle of a sync fails some index; what is there may still do.
if ! apt-get update -qq >/dev/null 2>&1; then
  say "warning: apt-get update failed for some index; installing from the indexes there are"
fi

apt_install() { apt-get install -y -qq --no-install-recommends "$@"; }

if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  if ! apt_install "${missing[@]}" >/dev/null 2>&1; then
    # Name the package that fails.
    for p in "${missing[@]}"; do
      if ! out=$(apt_install "$p" 2>&1); then
        say "cannot install $p: $(grep -m1 '^E:' <<<"$out" || echo "$out" | tail -n1)"
        exit 1
      fi
    done
  fi
fi

[ -z "$want_win32" ] && exit 0

# The first unmet dependency, or apt's first error, of a failed install.
reason_of() { grep -m1 -E 'Depends:|^E:' "$1" | sed 's/^ *//' || tail -n1 "$1"; }

log=$(mktemp)
trap 'rm -f "$log"' EXIT
say "installing the 32-bit group (${win32_group[*]})"
if ! apt_install --no-remove "${win32_group[@]}" >/dev/null 2>&1; then
  # A quiet install names no dependency: a simulation does.
  apt-get install -s --no-remove --no-install-recommends "${win32_group[@]}" >"$log" 2>&1 || true
  # Multi-arch libraries must have one version in both architectures: where the
  # 32-bit index is ahead, upgrade the 64-bit ones to its versions (never
  # downgrade them) and try once more.
  native_arch=$(dpkg --print-architecture)
  upgrades=()
  for lib in $(grep -o '[a-z0-9][a-z0-9.+-]*:i386' "$log" | sed 's/:i386$//' | sort -u); do
    have=$(dpkg-query -W -f='${Version}' "$lib:$native_arch" 2>/dev/null) || continue
    want=$(apt-cache policy "$lib:i386" | awk '/Candidate:/ {print $2}')
    [ -n "$want" ] && [ "$want" != "(none)" ] || continue
    dpkg --compare-versions "$want" gt "$have" || continue
    apt-cache madison "$lib:$native_arch" | awk -F'|' '{gsub(/ /, "", $2); print $2}' |
      grep -qxF "$want" && upgrades+=("$lib:$native_arch=$want")
  done
  ok=
  if [ ${#upgrades[@]} -gt 0 ]; then
    say "upgrading ${upgrades[*]} to match the 32-bit index, then trying once more"
    # Never at the cost of a package already there (a -dev package held at
    # the old version would go).
    apt_install --no-remove "${upgrades[@]}" >/dev/null 2>&1 &&
      apt_install --no-remove "${win32_group[@]}" >/dev/null 2>&1 && ok=1
  fi
  if [ -z "$ok" ]; then
    reason="wine32:i386 cannot be installed: $(reason_of "$log")"
    say "$reason; going on without the 32-bit group (remembered in $win32_failed)"
    mkdir -p "$state_dir"
    echo "$reason" >"$win32_failed"
  fi
fi
exit 0
