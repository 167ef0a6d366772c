#!/usr/bin/env bash
# Boots the test VM once and writes its serial console to a file:
#
#   tools/vm/boot.sh KERNEL INITRD LOG [TIMEOUT_SECONDS] [KERNEL_ARGS...]
#
# QEMU runs with TCG (a stock guest kernel hangs under the nested
# virtualisation some CI machines offer as /dev/kvm), one CPU, no display, and
# exits when the guest reboots. KELCALIB_VM_ACCEL=kvm uses KVM instead where
# the machine has real hardware virtualisation. Exits with QEMU's status, or 124 when the guest did not
# finish within TIMEOUT_SECONDS (default 240); QEMU is ended by its process ID
# on every path.
set -euo pipefail
case ${1:-} in -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
[ $# -ge 3 ] || { echo "usage: boot.sh KERNEL INITRD LOG [TIMEOUT_SECONDS] [KERNEL_ARGS...]" >&2; exit 2; }
kernel=$1 initrd=$2 log=$3 limit=${4:-240}
shift $(($# < 4 ? $# : 4))
append="console=ttyS0 quiet panic=-1 reboot=t $*"

qemu=
stop_qemu() {
  if [ -n "$qemu" ] && kill -0 "$qemu" 2>/dev/null; then
    kill "$qemu" 2>/dev/null || true
    sleep 0.5
    kill -KILL "$qemu" 2>/dev/null || true
  fi
  if [ -n "$qemu" ]; then wait "$qemu" 2>/dev/null || true; fi
  qemu=
}
trap stop_qemu EXIT
trap 'stop_qemu; exit 130' INT TERM

qemu-system-x86_64 -accel "${KELCALIB_VM_ACCEL:-tcg}" -M pc -m 256 -smp 1 -kernel "$kernel" -initrd "$initrd" \
  -append "$append" -nographic -nodefaults -serial stdio -no-reboot </dev/null >"$log" 2>&1 &
qemu=$!

deadline=$((SECONDS + limit))
while kill -0 "$qemu" 2>/dev/null; do
  if [ "$SECONDS" -ge "$deadline" ]; then
    echo "boot.sh: the VM did not finish within ${limit} s; ending QEMU (pid $qemu)" >&2
    stop_qemu
    exit 124
  fi
  sleep 0.2
done
status=0
wait "$qemu" || status=$?
qemu=
exit "$status"
