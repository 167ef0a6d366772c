# Sourced by the calibration VM's /init scripts (as /bin/boot_common.sh):
# busybox's commands, the kernel's file systems, result() for the one result
# line, `video` from the kernel argument vm.video=, and the modules loaded.
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin LD_LIBRARY_PATH=/lib/x86_64-linux-gnu:/usr/lib/x86_64-linux-gnu
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
mount -t tmpfs run /run
mkdir -p /var/lib/xkb /tmp/run /run/udev /var/log
result() { echo "VM-APP-RESULT: $*"; sync; reboot -f; sleep 10; }
video=x11
for arg in $(cat /proc/cmdline); do
  case $arg in vm.video=*) video=${arg#vm.video=} ;; esac
done
for m in $(cat /modules/order); do insmod /modules/$m || result "FAIL insmod $m"; done
if [ -f /modules/video-order ]; then
  for m in $(cat /modules/video-order); do insmod /modules/$m || result "FAIL insmod $m"; done
fi
