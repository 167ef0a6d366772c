#!/bin/sh
# no_static_hid_import.sh OBJDUMP EXE
# Fails when EXE imports hid.dll or setupapi.dll statically: a static import
# would take a hid.dll lying beside the exe before the system's.
objdump=$1
exe=$2
imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports of $(basename "$exe"):" $imports
if ! echo "$imports" | grep -qi '^kernel32\.dll$'; then
  echo "FAIL: could not read the import table" >&2
  exit 1
fi
if echo "$imports" | grep -qiE '^(hid|setupapi)\.dll$'; then
  echo "FAIL: hid.dll or setupapi.dll is imported statically" >&2
  exit 1
fi
