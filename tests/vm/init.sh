#!/bin/busybox sh
# /init of the test VM: mounts the kernel's file systems, loads the HID
# modules, runs the VM suite and prints one result line for the host script
# (tests/vm/run-vm-suite.sh), then powers the VM off. A kernel argument
# vm.filter=PATTERN runs only the tests matching the GoogleTest filter.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp

result() {
  echo "VM-SUITE-RESULT: $*"
  sync
  reboot -f
  sleep 10
}

for module in $(cat /modules/order); do
  insmod "/modules/$module" || result "FAIL (insmod $module)"
done
[ -c /dev/uhid ] || result "FAIL (no /dev/uhid)"

filter=
for arg in $(cat /proc/cmdline); do
  case $arg in vm.filter=*) filter=${arg#vm.filter=} ;; esac
done
start=$(cut -d' ' -f1 /proc/uptime)
if /bin/vm_suite --gtest_color=no ${filter:+--gtest_filter=$filter}; then
  result "PASS (suite $start s to $(cut -d' ' -f1 /proc/uptime) s of uptime)"
else
  result "FAIL (vm_suite exit $?)"
fi
