#!/usr/bin/env bash
# Wine in a 32-bit Debian chroot, for machines that run 32-bit programs but
# cannot install Wine's 32-bit packages (a stale 32-bit index leaves the
# multi-arch libraries at versions other than the installed 64-bit ones). The
# chroot is this machine's own release, from the main suite of its own Debian
# mirror (read from its apt sources), so its versions agree with each other;
# no package of the machine changes. Needs root and debootstrap.
#
#   scripts/win32-chroot.sh make DIR   DIR/root: the chroot, with wine and wine32;
#                                      DIR/bin/wine, wineboot, wineserver: the
#                                      wrapper (scripts/chroot-wine.sh); DIR/complete,
#                                      written last. On failure DIR/root is removed
#                                      and the reason written to DIR/failed (and,
#                                      where the chroot's 32-bit loader did not
#                                      start, to DIR/no-32-bit).
#   scripts/win32-chroot.sh mirror     prints the mirror it would use
#
# An incomplete DIR/root (an interrupted run) is made anew. Every step has a
# time limit and runs in a private mount namespace, so what it mounts inside
# the chroot goes with it. TENVORA_APT_DIR (default /etc/apt) is for tests.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
apt_dir=${TENVORA_APT_DIR:-/etc/apt}

say() { echo "win32-chroot: $*" >&2; }

# The first URI of the sources that serves the release's own suite ("deb"
# lines of *.list, deb822 stanzas of *.sources).
mirror_of() {
  local release=$1 f
  {
  for f in "$apt_dir"/sources.list "$apt_dir"/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk -v r="$release" '$1 == "deb" { i = 2; if ($2 ~ /^\[/) while ($i !~ /\]$/) i++; if ($2 ~ /^\[/) i++
      if ($(i + 1) == r) { print $i; exit } }' "$f"
  done
  for f in "$apt_dir"/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v r="$release" 'function flush() { if (types ~ /(^| )deb( |$)/ && enabled !~ /^no$/ && (" " suites " ") ~ (" " r " ") && uri != "") { print uri; exit }
        types = suites = uri = enabled = "" }
      /^[ \t]*$/ { flush(); next }
      /^#/ { next }
      tolower($1) == "types:" { $1 = ""; types = substr($0, 2) }
      tolower($1) == "suites:" { $1 = ""; suites = substr($0, 2) }
      tolower($1) == "uris:" { uri = $2 }
      tolower($1) == "enabled:" { enabled = tolower($2) }
      END { flush() }' "$f"
  done
  } | sed -n '1s#/*$##p'
}

release_of() { (. /etc/os-release && [ "${ID:-}" = debian ] && echo "${VERSION_CODENAME:-}"); }

case ${1:-} in
  mirror)
    mirror_of "${2:-$(release_of)}" | grep . || { say "no Debian mirror in $apt_dir"; exit 1; }
    exit 0
    ;;
  make) dir=${2:?usage: win32-chroot.sh make DIR} ;;
  *) echo "usage: win32-chroot.sh make DIR | mirror" >&2; exit 2 ;;
esac
root=$dir/root
log=$dir/make.log

# Only ever a folder with nothing mounted inside it on this machine.
remove_root() {
  [ -e "$root" ] || return 0
  if awk '{ print $5 }' /proc/self/mountinfo | grep -qF -- "$(readlink -f "$root")"; then
    say "something is mounted inside $root; not removing it"
    return 1
  fi
  rm -rf --one-file-system -- "$root"
}
fail() {
  echo "$*" >"$dir/failed"
  say "$*"
  remove_root
  exit 1
}
# step SECONDS WHAT COMMAND...: the command, its output in the log.
step() {
  local seconds=$1 what=$2 status
  shift 2
  say "$what"
  timeout -k 10 "$seconds" "$@" >"$dir/step.log" 2>&1
  status=$?
  { echo "== $what (status $status)"; cat "$dir/step.log"; } >>"$log"
  [ "$status" -eq 0 ] && return 0
  [ "$status" -eq 124 ] && fail "$what did not finish within $seconds s"
  fail "$what failed (status $status): $(grep -m1 -E '^(E|W): ' "$dir/step.log" || tail -n1 "$dir/step.log")"
}

mkdir -p "$dir"
rm -f "$dir/complete" "$dir/failed" "$dir/no-32-bit"
remove_root || { echo "something is mounted inside $root" >"$dir/failed"; exit 1; }
: >"$log"
[ "$(id -u)" -eq 0 ] || fail "the 32-bit chroot for Wine needs root to set up"
release=$(release_of)
[ -n "$release" ] || fail "not a Debian release with a code name (/etc/os-release)"
mirror=$(mirror_of "$release")
[ -n "$mirror" ] || fail "no Debian mirror for $release in the apt sources ($apt_dir)"
command -v debootstrap >/dev/null || fail "debootstrap is not installed"
# Where the machine's apt goes through a proxy, so do debootstrap and the
# chroot's apt.
eval "$(apt-config shell http_proxy Acquire::http::Proxy https_proxy Acquire::https::Proxy)"
export http_proxy https_proxy
private=(unshare --mount --propagation private)
# An https mirror needs the certificates inside too.
include=()
[ "${mirror#https:}" = "$mirror" ] || include=(--include=ca-certificates)

# Download and unpack first: the 32-bit loader in there says whether this
# machine runs 32-bit programs at all.
step 300 "debootstrap: downloading and unpacking Debian $release i386 from $mirror" \
  "${private[@]}" debootstrap --foreign --arch=i386 --variant=minbase "${include[@]}" "$release" "$root" "$mirror"
[ -e "$root/lib/ld-linux.so.2" ] || fail "debootstrap left no 32-bit loader in $root"
if ! out=$(timeout -k 5 30 bash -c 'exec "$@"' loader "$root/lib/ld-linux.so.2" --version 2>&1) ||
  ! grep -qF ld.so <<<"$out"; then
  reason="the 32-bit loader of the chroot does not start: $(grep -m1 . <<<"$out" | sed 's/^.*: line [0-9]*: //')"
  echo "$reason" >"$dir/no-32-bit"
  fail "$reason"
fi
step 300 "debootstrap: installing the base system" \
  "${private[@]}" env -u LD_PRELOAD -u LD_LIBRARY_PATH PATH=/usr/sbin:/usr/bin:/sbin:/bin \
  chroot "$root" /debootstrap/debootstrap --second-stage
# shellcheck disable=SC2016
step 480 "apt: installing wine and wine32 in the chroot" "${private[@]}" bash -c '
  mount --rbind /dev "$1/dev" && mount -t proc proc "$1/proc" || exit 1
  exec chroot "$1" /usr/bin/env -u LD_PRELOAD -u LD_LIBRARY_PATH PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive sh -c "apt-get update -qq && apt-get install -y -qq --no-install-recommends wine wine32"
' chroot-apt "$root"

mkdir -p "$dir/bin"
install -m 755 "$here/chroot-wine.sh" "$dir/bin/chroot-wine"
for cmd in wine wineboot wineserver; do ln -sfn chroot-wine "$dir/bin/$cmd"; done
version=$(cd / && timeout -k 5 60 "$dir/bin/wine" --version 2>&1) || fail "Wine in the chroot does not start: $version"
echo "Debian $release i386 from $mirror, $version" >"$dir/complete"
say "ready: $(cat "$dir/complete")"
