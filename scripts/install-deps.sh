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
# again (delete that file to retry). Then, on a machine that runs 32-bit
# programs, Wine goes into a 32-bit Debian chroot in
# $TENVORA_STATE_DIR/win32-chroot instead (scripts/win32-chroot.sh, which
# installs debootstrap for it); a failure there is remembered in that folder,
# and removing the folder retries. Every other package must install.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

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
win32_chroot=$state_dir/win32-chroot

say() { echo "install-deps: $*" >&2; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing_of() {
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}

# Whether Wine should go into the chroot: its packages failed, no chroot is
# there nor remembered as failed, and the machine runs 32-bit programs (or has
# no 32-bit loader to tell: the chroot's own then tells).
chroot_wanted() {
  [ -e "$win32_failed" ] && [ ! -e "$win32_chroot/complete" ] && [ ! -e "$win32_chroot/failed" ] || return 1
  [ -e /lib/ld-linux.so.2 ] || return 0
  local out
  out=$(timeout -k 5 30 bash -c 'exec /lib/ld-linux.so.2 --version' 2>/dev/null) && grep -qF ld.so <<<"$out"
}

groups=(demo)
[ "${1:-all}" = demo ] || groups+=(test win32)

missing=()
want_win32='' want_chroot=''
for group in "${groups[@]}"; do
  if [ "$group" = win32 ]; then
    mapfile -t m < <(missing_of "${win32_group[@]}")
    [ ${#m[@]} -gt 0 ] || continue
    if [ ! -e "$win32_failed" ]; then
      want_win32=1
    elif chroot_wanted; then
      want_chroot=1
    fi
  elif [ "$group" = demo ]; then
    mapfile -t m < <(missing_of "${demo_group[@]}")
    missing+=("${m[@]}")
  else
    mapfile -t m < <(missing_of "${test_group[@]}")
    missing+=("${m[@]}")
  fi
done
# The chroot's Wine, when its wrapper is older than scripts/chroot-wine.sh.
if [ -e "$win32_chroot/complete" ] && ! cmp -s "$here/chroot-wine.sh" "$win32_chroot/bin/chroot-wine"; then
  install -m 755 "$here/chroot-wine.sh" "$win32_chroot/bin/chroot-wine" 2>/dev/null || true
fi
[ ${#missing[@]} -eq 0 ] && [ -z "$want_win32" ] && [ -z "$want_chroot" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  if [ ${#missing[@]} -eq 0 ] && [ -z "$want_win32" ]; then
    say "Wine in a 32-bit chroot needs root to set up; the Windows tests will be skipped"
    exit 0
  fi
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

# make_chroot: Wine in the 32-bit chroot, debootstrap installed for it first.
make_chroot() {
  say "Wine's 32-bit packages cannot be installed; making a 32-bit Debian chroot with Wine in $win32_chroot"
  if ! installed debootstrap && ! apt_install debootstrap >/dev/null 2>&1; then
    mkdir -p "$win32_chroot"
    echo "debootstrap cannot be installed" >"$win32_chroot/failed"
    say "debootstrap cannot be installed; going on without Wine"
    return
  fi
  bash "$here/win32-chroot.sh" make "$win32_chroot" ||
    say "going on without Wine (the reason is kept in $win32_chroot/failed)"
}

if [ -z "$want_win32" ]; then
  [ -n "$want_chroot" ] && make_chroot
  exit 0
fi

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
    chroot_wanted && make_chroot
  fi
fi
exit 0
