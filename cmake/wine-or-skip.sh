#!/bin/sh
# The emulator of the Windows test programs. scripts/test.sh sets
# TENVORA_SKIP_WINE to the reason when this machine cannot run them; the test
# then reports itself skipped (77) instead of failing. Otherwise it sets
# TENVORA_WINE to the Wine that scripts/win32-probe.sh chose.
if [ -n "${TENVORA_SKIP_WINE:-}" ]; then
  echo "SKIPPED: needs Wine, and $TENVORA_SKIP_WINE"
  exit 77
fi
exec "${TENVORA_WINE:-wine}" "$@"
