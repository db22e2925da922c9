#!/usr/bin/env bash
# Sets up this machine and runs every test: the native build, the native build
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the 32-bit Windows
# build, whose test programs run under Wine; then the end-to-end run of
# tenvora.dll in the Windows test host against the native build, and a short
# run of each fuzz target.
#
# Where this machine cannot run 32-bit programs, or Wine could be installed
# neither from its packages nor in a 32-bit chroot (scripts/install-deps.sh),
# the Windows build is still made and checked without running it (exports,
# imports, dialog template, no x87 code); what must run under Wine is
# reported as skipped, loudly. scripts/win32-probe.sh decides, and chooses the
# Wine (the system's or the chroot's); this script says which it used.
# Every step runs even when an earlier one failed; the last line counts the
# checks: "N passed, N failed, N skipped".
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1

# At most two jobs: the machine's cores are shared.
jobs=$(($(nproc) < 2 ? $(nproc) : 2))
# A Wine prefix of our own, made on first use; no Mono or Gecko prompts. The
# Windows tests create no visible window, so Wine needs no display.
export WINEPREFIX="$PWD/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

passed=0 failed=0 skipped=0
failures=() skips=()
fail() {
  failed=$((failed + 1))
  failures+=("$1")
}

build() { # build PRESET: configures and builds it, or records the failure
  echo "== $1"
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs" && return 0
  fail "build of $1"
  return 1
}

run_ctest() { # run_ctest PRESET: runs its tests and adds up their outcomes
  local junit=$PWD/build/$1/ctest-results.xml counts
  rm -f "$junit"
  ctest --preset "$1" -j "$jobs" --output-junit "$junit" || true
  if ! counts=$(tr '\n\t' '  ' 2>/dev/null <"$junit" | grep -m1 -o '<testsuite [^>]*>'); then
    fail "ctest $1 (no results)"
    return
  fi
  local all bad off
  all=$(grep -o ' tests="[0-9]*"' <<<"$counts" | tr -dc 0-9)
  bad=$(grep -o ' failures="[0-9]*"' <<<"$counts" | tr -dc 0-9)
  off=$(grep -o ' skipped="[0-9]*"' <<<"$counts" | tr -dc 0-9)
  passed=$((passed + all - bad - off))
  failed=$((failed + bad))
  skipped=$((skipped + off))
  [ "$bad" -eq 0 ] || failures+=("$bad of ctest $1")
  [ "$off" -eq 0 ] || skips+=("$off of ctest $1 (ctest lists them above)")
}

for preset in native native-asan; do
  build "$preset" && run_ctest "$preset"
done

if build windows-i686; then
  echo "== can this machine run the Windows tests?"
  verdict=$(bash scripts/win32-probe.sh build/windows-i686/tests/wine/wine_probe.exe)
  probe_status=$?
  case $probe_status in
    0)
      # The Wine the probe chose, for ctest (cmake/wine-or-skip.sh) and the
      # end-to-end run; the chroot's sees the project at its own path.
      wine_used=$(head -n1 <<<"$verdict")
      wine_used=${wine_used#can: }
      TENVORA_WINE=$(sed -n 2p <<<"$verdict")
      export TENVORA_WINE TENVORA_WINE_SHARE=$PWD
      echo "yes: the 32-bit loader and Wine run our probe; Wine used: $wine_used"
      ;;
    1)
      why=${verdict#cannot: }
      export TENVORA_SKIP_WINE=$why
      echo
      echo "SKIPPED: Windows tests under Wine ($why)"
      echo
      ;;
    *)
      fail "the Wine probe (it started, then failed or hung: see above)"
      export TENVORA_SKIP_WINE="the Wine probe failed"
      ;;
  esac
  run_ctest windows-i686

  if [ "$probe_status" -eq 0 ]; then
    echo "== end-to-end: tenvora.dll under Wine against the native build"
    if bash tests/wine/run_e2e.sh; then passed=$((passed + 1)); else fail "end-to-end run"; fi
  else
    skipped=$((skipped + 1))
    skips+=("end-to-end run of tenvora.dll under Wine")
  fi
fi

echo "== fuzz"
if bash scripts/fuzz.sh short; then passed=$((passed + 1)); else fail "short fuzz runs"; fi

echo
[ -z "${wine_used:-}" ] || echo "Windows tests ran under $wine_used"
[ -z "${TENVORA_SKIP_WINE:-}" ] || echo "SKIPPED: Windows tests under Wine ($TENVORA_SKIP_WINE)"
[ ${#skips[@]} -eq 0 ] || printf '  skipped: %s\n' "${skips[@]}"
[ ${#failures[@]} -eq 0 ] || printf '  FAILED: %s\n' "${failures[@]}"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
