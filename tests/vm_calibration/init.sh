#!/bin/busybox sh
# /init of the calibration VM: a whole calibration of the Linux kelcalib
# against the uhid controller (vc-uhid) through the kernel's hidraw, in an
# Xvfb inside the VM, touched with xdotool after the touch file holds the
# position. Prints one result line, then reboots.
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin LD_LIBRARY_PATH=/lib/x86_64-linux-gnu:/usr/lib/x86_64-linux-gnu
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
mkdir -p /var/lib/xkb /tmp/run
result() { echo "VM-APP-RESULT: $*"; sync; reboot -f; sleep 10; }
for m in $(cat /modules/order); do insmod /modules/$m || result "FAIL insmod $m"; done
cat > /tmp/vc.conf <<CONF
log-file /tmp/vc.log
controller
panel mirrored
store /tmp/store.txt
CONF
echo none > /tmp/touch
vc-uhid /tmp/vc.conf --touch /tmp/touch > /tmp/uhid.out 2>&1 &
for i in $(seq 1 100); do grep -q ready /tmp/uhid.out && break; sleep 0.1; done
cat /tmp/uhid.out
Xvfb :0 -screen 0 1024x768x24 -nolisten tcp -xkbdir /usr/share/X11/xkb > /tmp/xvfb.log 2>&1 &
for i in $(seq 1 100); do [ -S /tmp/.X11-unix/X0 ] && break; sleep 0.1; done
[ -S /tmp/.X11-unix/X0 ] || { cat /tmp/xvfb.log; result "FAIL Xvfb"; }
export DISPLAY=:0 SDL_VIDEODRIVER=x11 SDL_FRAMEBUFFER_ACCELERATION=0 XDG_RUNTIME_DIR=/tmp/run
t0=$(cut -d' ' -f1 /proc/uptime)
kelcalib > /tmp/app.log 2>&1 &
app=$!
cues() { c=$(grep -c "EVENT Q cue" /tmp/vc.log 2>/dev/null); echo ${c:-0}; }
waitcues() { for w in $(seq 1 300); do [ "$(cues)" -ge "$1" ] && return 0; sleep 0.1; done; return 1; }
xs="204 819 819 204"; ys="153 614 153 614"
for i in 0 1 2 3; do
  waitcues $((i + 1)) || { cat /tmp/app.log; result "FAIL target $i never cued"; }
  [ $i -eq 0 ] && echo "first target cued at $(cut -d' ' -f1 /proc/uptime) s (program started at $t0 s)"
  sleep 0.6
  x=$(echo $xs | cut -d' ' -f$((i + 1))); y=$(echo $ys | cut -d' ' -f$((i + 1)))
  echo "$x $y 1024 768" > /tmp/touch.new && mv /tmp/touch.new /tmp/touch
  xdotool mousemove $x $y click 1
done
waitcues 5 || result "FAIL fourth touch not taken"
for i in $(seq 1 100); do [ "$(grep -c 'EVENT Cy accept' /tmp/vc.log)" -ge 2 ] && break; sleep 0.1; done
sleep 1
xdotool key Return
for i in $(seq 1 100); do kill -0 $app 2>/dev/null || break; sleep 0.1; done
wait $app; code=$?
grep EVENT /tmp/vc.log
echo "store:"; cat /tmp/store.txt
echo "raw reads:"; grep -E "GET .* ok .* 55 54" /tmp/vc.log | wc -l
[ $code -eq 0 ] && grep -q "WC accept committed" /tmp/vc.log && result "PASS (exit $code)"
cat /tmp/app.log
result "FAIL (exit $code)"
