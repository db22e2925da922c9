#!/bin/sh
# Fails when a kernel object of the 32-bit build does floating-point work on
# the x87 stack. The calling convention returns a float or double in st(0),
# so a load (fld) right before the return and a store (fstp) of a called
# function's result are allowed; any other x87 instruction is not.
# Usage: check_sse.sh OBJDUMP OBJECTS (one argument, separated by semicolons)
set -eu
objdump=$1
objects=$(printf '%s' "$2" | tr ';' ' ')
[ -n "$objects" ] || { echo "check_sse: no kernel objects given" >&2; exit 1; }
count=0
for object in $objects; do
  count=$((count + 1))
  "$objdump" -d --no-show-raw-insn "$object" | awk -v object="$object" '
    BEGIN { since_call = 99 }
    # Instruction lines look like "  1c:\tfldl   0x8(%esp)".
    /^ *[0-9a-f]+:\t/ {
      split($0, parts, "\t")
      mnemonic = parts[2]
      sub(/ .*/, "", mnemonic)
      if (pending != "" && mnemonic ~ /^ret/) pending = ""
      else if (pending != "" && mnemonic !~ /^(add|lea|pop|mov)/) {
        print object ": x87 load not followed by a return: " pending
        bad = 1
        pending = ""
      }
      if (mnemonic ~ /^fld[sl]?$/) pending = $0
      else if (mnemonic ~ /^fstp[sl]?$/ && since_call > 6) {
        print object ": x87 store not right after a call: " $0
        bad = 1
      } else if (mnemonic ~ /^f/ && mnemonic !~ /^fstp[sl]?$/) {
        print object ": x87 instruction: " $0
        bad = 1
      }
      # The store of a result may be scheduled a few instructions after the
      # call, with no x87 work between.
      if (mnemonic ~ /^call/) since_call = 0
      else if (mnemonic ~ /^f/) since_call = 99
      else since_call++
      count++
    }
    END {
      if (pending != "") { print object ": x87 load not followed by a return: " pending; bad = 1 }
      if (count == 0) { print object ": no instructions found"; bad = 1 }
      exit bad
    }'
done
echo "check_sse: $count kernel objects do their floating point in SSE registers"
