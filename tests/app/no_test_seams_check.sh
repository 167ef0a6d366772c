#!/bin/sh
# scripts/check-no-test-seams.sh as ./package runs it on what ships: it fails
# on a program built with the test seam (the native kelcalib), naming the
# variable, and passes one without it (calib-solve).
check=$1 seamed=$2 clean=$3
if out=$("$check" "$seamed" 2>&1); then
  echo "FAIL: $seamed passed the check"
  exit 1
fi
case $out in
  *KELCALIB_SYSTEM_ROOT*) ;;
  *) echo "FAIL: the variable not named: $out"; exit 1 ;;
esac
"$check" "$clean" || { echo "FAIL: $clean refused"; exit 1; }
echo "the check refuses the seamed program and passes the other"
