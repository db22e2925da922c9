#!/usr/bin/env bash
# The decisions of scripts/win32-probe.sh, with stand-ins for the 32-bit loader,
# the system's Wine and the chroot's (scripts/win32-chroot.sh): a token seen, a
# program the kernel cannot load, a missing Wine, a chroot that works, one that
# could not be made, one left incomplete, one that needs root, and probes that
# start and then hang or fail. Then the mirror that scripts/win32-chroot.sh
# reads from apt sources.
set -uo pipefail
scripts=$(cd "$(dirname "$0")/../.." && pwd)/scripts
probe=$scripts/win32-probe.sh
fakes=$(mktemp -d)
trap 'rm -rf "$fakes"' EXIT

fake() { # fake PATH BODY
  mkdir -p "$(dirname "$fakes/$1")"
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
wine_ok='case "$1" in wineboot) exit 0 ;; *) echo tenvora-wine-probe-ok ;; esac'
fake wine_ok "$wine_ok"
fake wine_prefix_hangs 'case "$1" in wineboot) sleep 30 ;; *) echo tenvora-wine-probe-ok ;; esac'
fake wine_silent 'exit 0'

# State folders as scripts/install-deps.sh leaves them (name, then files).
state() { # state NAME FILE=LINE...
  local f
  mkdir -p "$fakes/$1"
  for f in "${@:2}"; do
    mkdir -p "$(dirname "$fakes/$1/${f%%=*}")"
    echo "${f#*=}" >"$fakes/$1/${f%%=*}"
  done
}
state none
state pkgs_failed "win32-packages.failed=wine32:i386 cannot be installed: libcups2 : Depends: x"
state chroot_ok "win32-packages.failed=wine32:i386 cannot be installed: y" "win32-chroot/complete=Debian test i386"
fake chroot_ok/win32-chroot/bin/wine "$wine_ok"
cp "$fakes/loader_ok" "$fakes/chroot_ok/win32-chroot/root/lib/ld-linux.so.2" 2>/dev/null ||
  { mkdir -p "$fakes/chroot_ok/win32-chroot/root/lib" && cp "$fakes/loader_ok" "$_/ld-linux.so.2"; }
state chroot_incomplete "win32-packages.failed=wine32:i386 cannot be installed: y"
fake chroot_incomplete/win32-chroot/bin/wine "$wine_ok"
state chroot_failed "win32-packages.failed=wine32:i386 cannot be installed: y" \
  "win32-chroot/failed=apt: installing wine and wine32 in the chroot did not finish within 480 s"
state chroot_no_32_bit "win32-packages.failed=wine32:i386 cannot be installed: y" \
  "win32-chroot/failed=the 32-bit loader of the chroot does not start: Exec format error" \
  "win32-chroot/no-32-bit=the 32-bit loader of the chroot does not start: Exec format error"
state chroot_needs_root "win32-packages.failed=wine32:i386 cannot be installed: y" "win32-chroot/complete=Debian test i386"
fake chroot_needs_root/win32-chroot/bin/wine 'echo "wine: needs root to set up the mounts" >&2; exit 126'
state chroot_wine_fails "win32-packages.failed=wine32:i386 cannot be installed: y" "win32-chroot/complete=Debian test i386"
fake chroot_wine_fails/win32-chroot/bin/wine 'case "$1" in wineboot) exit 0 ;; *) echo "err:module" >&2; exit 5 ;; esac'
failures=0
# expect STATUS OUTPUT-PATTERN LOADER WINE [STATE [UID]]
expect() {
  local want_status=$1 pattern=$2 out status
  out=$(TENVORA_LOADER32=$3 TENVORA_WINE=$4 TENVORA_PROBE_TIMEOUT=2 TENVORA_PREFIX_TIMEOUT=2 \
    TENVORA_STATE_DIR=$fakes/${5:-none} TENVORA_UID=${6:-0} bash "$probe" probe.exe 2>&1)
  status=$?
  if [ "$status" -ne "$want_status" ] || ! grep -qE -- "$pattern" <<<"$out"; then
    echo "FAIL: loader $3, wine $4, state ${5:-none}, uid ${6:-0}: status $status (want $want_status), output: $out"
    failures=$((failures + 1))
  fi
}

no=$fakes/nothing_here
cannot32='^cannot: this machine cannot run 32-bit programs: '
uninstallable='^cannot: Wine could not be installed: '
expect 0 "^can: the system's Wine \\($fakes/wine_ok\\)"$'\n'"$fakes/wine_ok\$" "$fakes/loader_ok" "$fakes/wine_ok"
expect 1 "$cannot32.*Exec format error" "$fakes/loader_foreign" "$fakes/wine_ok"
expect 1 "$cannot32.*Exec format error" "$fakes/loader_foreign" "$no" chroot_ok
expect 1 "${cannot32}no 32-bit loader" "$no" "$fakes/wine_ok"
expect 1 "${uninstallable}Wine is not installed; no 32-bit loader" "$no" "$no"
expect 1 "${uninstallable}Wine is not installed\$" "$fakes/loader_ok" "$no"
expect 1 "${uninstallable}wine32:i386 cannot be installed: libcups2 : Depends: x\$" "$fakes/loader_ok" "$no" pkgs_failed
expect 1 "${uninstallable}wine32:i386 .*; Wine in a 32-bit chroot needs root to set up" "$fakes/loader_ok" "$no" pkgs_failed 1000
# The chroot's Wine, where the system has none.
expect 0 "^can: Wine in the 32-bit chroot $fakes/chroot_ok/win32-chroot \\(Debian test i386\\)"$'\n'"$fakes/chroot_ok/win32-chroot/bin/wine\$" \
  "$fakes/loader_ok" "$no" chroot_ok
expect 0 "^can: Wine in the 32-bit chroot" "$no" "$no" chroot_ok
expect 0 "^can: the system's Wine" "$fakes/loader_ok" "$fakes/wine_ok" chroot_ok
expect 1 "${uninstallable}wine32:i386 cannot be installed: y\$" "$fakes/loader_ok" "$no" chroot_incomplete
expect 1 "${uninstallable}wine32:i386 .*; nor in a 32-bit chroot: apt: .* did not finish within 480 s" \
  "$fakes/loader_ok" "$no" chroot_failed
expect 1 "${cannot32}the 32-bit loader of the chroot does not start: Exec format error" "$no" "$no" chroot_no_32_bit
expect 1 "${uninstallable}Wine in the 32-bit chroot .* does not start: wine: needs root to set up" \
  "$fakes/loader_ok" "$no" chroot_needs_root 1000
expect 2 'Wine running probe.exe started and failed \(status 5\)' "$fakes/loader_ok" "$no" chroot_wine_fails
# Probes that start and then hang or fail.
expect 2 'did not finish within 2 s' "$fakes/loader_hangs" "$fakes/wine_ok"
expect 2 'did not finish within 2 s' "$fakes/loader_ok" "$fakes/wine_prefix_hangs"
expect 2 'started and failed \(status 3\)' "$fakes/loader_fails" "$fakes/wine_ok"
expect 2 'without printing "tenvora-wine-probe-ok"' "$fakes/loader_ok" "$fakes/wine_silent"

# mirror SOURCES-FILE CONTENT WANT: the mirror scripts/win32-chroot.sh takes.
mirror() {
  local apt=$fakes/apt got
  rm -rf "$apt"
  mkdir -p "$apt/sources.list.d"
  printf '%b' "$2" >"$apt/$1"
  got=$(TENVORA_APT_DIR=$apt bash "$scripts/win32-chroot.sh" mirror bookworm 2>&1)
  if [ "$got" != "$3" ]; then
    echo "FAIL: mirror of $1 \"$2\": got \"$got\", want \"$3\""
    failures=$((failures + 1))
  fi
}
sec='URIs: http://security.example/debian-security\nSuites: bookworm-security\n'
mirror sources.list.d/debian.sources "Types: deb\n# a comment\nURIs: http://m.example/debian/\nSuites: bookworm bookworm-updates\nComponents: main\n\nTypes: deb\n$sec" \
  http://m.example/debian
mirror sources.list.d/debian.sources "Types: deb\n${sec}\nTypes: deb-src\nURIs: http://src.example/debian\nSuites: bookworm\n\nTypes: deb\nURIs: http://m.example/debian\nSuites: bookworm\n" \
  http://m.example/debian
mirror sources.list.d/debian.sources "Types: deb\nURIs: http://off.example/debian\nSuites: bookworm\nEnabled: no\n\nTypes: deb\nURIs: http://m.example/debian\nSuites: bookworm\n" \
  http://m.example/debian
mirror sources.list "# deb http://old.example/debian bookworm main\ndeb http://security.example bookworm-security main\ndeb [arch=amd64 signed-by=/k.gpg] https://m.example/debian bookworm main\n" \
  https://m.example/debian
mirror sources.list "deb [arch=amd64] http://m.example/debian/ bookworm main contrib\n" http://m.example/debian
mirror sources.list "deb http://m.example/debian trixie main\n" "win32-chroot: no Debian mirror in $fakes/apt"

# The chroot's wrapper (scripts/chroot-wine.sh) over a chroot of this machine's
# own shell: the working directory, the arguments, Wine's variables and the
# shared folders reach the command; nothing stays mounted; a folder behind a
# link of the chroot is not shared.
if [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null; then
  chroot_dir=$fakes/wrapped/win32-chroot
  croot=$chroot_dir/root
  mkdir -p "$croot/usr/bin" "$chroot_dir/bin" "$croot/var" "$fakes/cwd" "$fakes/shared"
  ln -s usr/bin "$croot/bin"
  for tool in sh cat env; do
    real=$(readlink -f "$(command -v "$tool")")
    cp "$real" "$croot/usr/bin/$tool"
    for lib in $(ldd "$real" | grep -o '/[^ ]*'); do
      mkdir -p "$croot$(dirname "$lib")" && cp -n "$lib" "$croot$lib"
    done
  done
  printf '#!/bin/sh\necho "$0|$*|$(pwd)|$WINEPREFIX|$DISPLAY|$WINEDEBUG|$WINEDLLOVERRIDES"\ncat "$1" "$2"\nexit 5\n' >"$croot/usr/bin/wine"
  chmod +x "$croot/usr/bin/wine"
  cp "$scripts/chroot-wine.sh" "$chroot_dir/bin/chroot-wine"
  ln -s chroot-wine "$chroot_dir/bin/wine"
  # /var/tmp of the chroot leads out of it.
  ln -s / "$croot/var/tmp"
  outside=$(mktemp -d /var/tmp/tenvora-outside.XXXXXX)
  trap 'rm -rf "$fakes" "$outside"' EXIT
  echo in-cwd >"$fakes/cwd/a.txt"
  echo in-shared >"$fakes/shared/b.txt"
  mounts=$(cat /proc/self/mountinfo)
  got=$(cd "$fakes/cwd" && WINEPREFIX=$fakes/shared/prefix DISPLAY=:97 WINEDEBUG=-all WINEDLLOVERRIDES=m= \
    TENVORA_WINE_SHARE=$fakes/shared:$outside:/usr "$chroot_dir/bin/wine" a.txt "$fakes/shared/b.txt" 2>&1)
  status=$?
  want="wine: not sharing /usr with the chroot (the chroot has its own)"
  want+=$'\n'"wine: not sharing $outside with the chroot (a link there leads out of it)"
  want+=$'\n'"/usr/bin/wine|a.txt $fakes/shared/b.txt|$fakes/cwd|$fakes/shared/prefix|:97|-all|m="$'\nin-cwd\nin-shared'
  if [ "$status" -ne 5 ] || [ "$got" != "$want" ] || [ "$(cat /proc/self/mountinfo)" != "$mounts" ] ||
    [ -e "/${outside##*/}" ] || [ -n "$(ls -A "$croot/tmp")" ]; then
    echo "FAIL: the chroot's wrapper: status $status (want 5), output:"$'\n'"$got"$'\n'"want:"$'\n'"$want"
    failures=$((failures + 1))
  fi
else
  echo "win32-probe: the chroot's wrapper not checked (needs root and unshare)"
fi

[ "$failures" -eq 0 ] && echo "win32-probe: all decisions as expected"
exit $((failures > 0))
