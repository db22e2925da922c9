#!/usr/bin/env bash
# Wine of the 32-bit chroot that scripts/win32-chroot.sh makes: installed
# there as bin/wine, bin/wineboot and bin/wineserver beside root/, it runs the
# command of the name it was called by inside root/, in the same working
# directory and with the same environment (WINEPREFIX, DISPLAY, WINEDEBUG,
# WINEDLLOVERRIDES, ...).
#
# Each command gets a mount namespace of its own with private propagation: the
# machine's /dev, /proc, /sys and /tmp (the X display's socket, Wine's server
# sockets, temporary prefixes), the working directory, $WINEPREFIX, $TMPDIR
# and the folders in $TENVORA_WINE_SHARE (colon-separated) are bound at the
# same paths inside root/ there only. Nothing stays mounted on the machine
# when the command ends, and removing the chroot's folder never reaches the
# machine's own folders.
set -euo pipefail
marker=--tenvora-in-namespace

if [ "${1:-}" != "$marker" ]; then
  self=$(readlink -f "${BASH_SOURCE[0]}")
  root=$(dirname "$(dirname "$self")")/root
  cmd=$(basename "$0")
  if [ "$(id -u)" -ne 0 ]; then
    echo "$cmd: needs root to set up the mounts of the 32-bit chroot $root (run as root)" >&2
    exit 126
  fi
  [ -e "$root/usr/bin/$cmd" ] || { echo "$cmd: not in the 32-bit chroot $root" >&2; exit 127; }
  exec unshare --mount --propagation private -- "$self" "$marker" "$root" "$cmd" "$(pwd -P)" "$@"
fi

root=$2 cmd=$3 cwd=$4
shift 4
# True when a link inside the chroot lies on the path: binding or making a
# folder there could lead out of the chroot.
leaves_chroot() {
  local at=$root part
  local -a parts
  IFS=/ read -ra parts <<<"${1#/}"
  for part in "${parts[@]}"; do
    at+=/$part
    [ -L "$at" ] && return 0
  done
  return 1
}
system=(/dev /proc /sys /tmp)
wanted=("$cwd" "${WINEPREFIX:-}" "${TMPDIR:-}")
IFS=: read -ra extra <<<"${TENVORA_WINE_SHARE:-}"
wanted+=("${extra[@]}")
shared=("${system[@]}")
for dir in "${wanted[@]}"; do
  [ -n "$dir" ] || continue
  # A prefix that Wine is yet to make: its nearest existing parent.
  while [ ! -e "$dir" ]; do dir=$(dirname "$dir"); done
  dir=$(readlink -f "$dir")
  [ "$dir" != / ] && [ -d "$dir" ] && shared+=("$dir")
done
# Outer folders first; one already inside a shared folder needs no mount.
mapfile -t shared < <(printf '%s\n' "${shared[@]}" | awk '{ print length($0) "\t" $0 }' | sort -n | uniq | cut -f2-)
done_dirs=()
for dir in "${shared[@]}"; do
  for outer in "${done_dirs[@]}"; do
    case $dir/ in "$outer"/*) continue 2 ;; esac
  done
  if leaves_chroot "$dir"; then
    echo "$cmd: not sharing $dir with the chroot (a link there leads out of it)" >&2
    continue
  fi
  # The chroot's own folders (/usr, /var, ...) stay its own.
  if ! printf '%s\n' "${system[@]}" | grep -qxF -- "$dir" && [ -n "$(ls -A "$root$dir" 2>/dev/null)" ]; then
    echo "$cmd: not sharing $dir with the chroot (the chroot has its own)" >&2
    continue
  fi
  mkdir -p "$root$dir"
  mount --rbind "$dir" "$root$dir"
  done_dirs+=("$dir")
done
exec chroot "$root" /usr/bin/env -u LD_PRELOAD -u LD_LIBRARY_PATH PATH=/usr/sbin:/usr/bin:/sbin:/bin \
  /bin/sh -c 'cd "$1" && shift && exec "$@"' chroot-wine "$cwd" "$cmd" "$@"
