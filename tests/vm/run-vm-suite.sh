#!/usr/bin/env bash
# The VM suite: builds the static test programs (vm preset), packs them into
# an initramfs with Debian's kernel and its HID modules (unpacked into
# build/vm-cache/, tools/vm/kernel.sh), boots it in QEMU and checks the result
# line on the serial console. Exits non-zero on any failure or when the VM
# does not finish in time.
#
#   tests/vm/run-vm-suite.sh [--filter GTEST_FILTER] [--keep-log FILE]
#
# A filter that matches no test fails at once; a test that skipped itself
# fails the suite unless KELCALIB_ALLOW_SKIPS=1.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
filter= keep=
while [ $# -gt 0 ]; do
  case $1 in
    --filter) filter=$2; shift 2 ;;
    --keep-log) keep=$2; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-vm-suite: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
t0=$(now)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The build's output only when it fails (glibc's static-link notes are noise),
# with a line every 20 s while it runs.
build_folder_check vm
build_vm() { cmake --preset vm && cmake --build --preset vm --target vm_suite vc-uhid kelcalib-ctl; }
if ! build_with_progress "vm suite" build_vm; then
  echo "vm suite: FAILED (building the static programs)" >&2
  exit 1
fi
# A filter that matches no test would boot a VM that passes with nothing
# checked: refused here (the static suite lists its tests on the host too).
if [ -n "$filter" ] && ! build/vm/tests/vm/vm_suite --gtest_list_tests --gtest_filter="$filter" |
    grep -q '^  '; then
  echo "vm suite: FAILED (the filter '$filter' matches no test)" >&2
  exit 1
fi
adds=(--add build/vm/tests/vm/vm_suite --add build/vm/tools/virtual-controller/uhid/vc-uhid
      --add build/vm/ctl/kelcalib-ctl)
t1=$(now)

tools/vm/build-image.sh --out "$work" --init tests/vm/init.sh "${adds[@]}"
t2=$(now)

status=0
tools/vm/boot.sh "$work/vmlinux" "$work/initramfs.gz" "$work/serial.log" 240 \
  ${filter:+vm.filter=$filter} || status=$?
t3=$(now)
tr -d '\r' <"$work/serial.log" | grep -v -e '^\[ *[0-9.]*\]' -e 'SeaBIOS' -e '^Booting from' || true
[ -n "$keep" ] && cp "$work/serial.log" "$keep"

echo "vm suite: build $(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.1f", b-a}') s, image $(awk -v a="$t1" -v b="$t2" 'BEGIN{printf "%.1f", b-a}') s, VM $(awk -v a="$t2" -v b="$t3" 'BEGIN{printf "%.1f", b-a}') s, total $(since "$t0") s"
if [ "$status" -ne 0 ]; then
  echo "vm suite: FAILED (the VM ended with status $status)" >&2
  exit 1
fi
line=$(tr -d '\r' <"$work/serial.log" | grep -a '^VM-SUITE-RESULT: ' | tail -n 1 || true)
case $line in
  'VM-SUITE-RESULT: PASS'*) ;;
  '') echo "vm suite: FAILED (no result line on the serial console)" >&2; exit 1 ;;
  *) echo "vm suite: FAILED (${line#VM-SUITE-RESULT: })" >&2; exit 1 ;;
esac
# A test that skipped itself fails the suite as it fails ./check's other
# stages, unless KELCALIB_ALLOW_SKIPS=1.
skipped=$(tr -d '\r' <"$work/serial.log" | sed -n 's/^\[  SKIPPED \] \(.*\) ([0-9]* ms)$/\1/p')
if [ -n "$skipped" ]; then
  echo "$skipped" | sed 's/^/SKIPPED: /'
  if [ "${KELCALIB_ALLOW_SKIPS:-}" != 1 ]; then
    echo "vm suite: FAILED (tests skipped; KELCALIB_ALLOW_SKIPS=1 accepts that)" >&2
    exit 1
  fi
fi
echo "vm suite: passed"
