#!/bin/busybox sh
# /init of the calibration VM: a whole calibration of the Linux kelcalib
# against the uhid controller (vc-uhid) through the kernel's hidraw. With the
# kernel argument vm.video=x11 the program runs in an Xvfb inside the VM and
# xdotool touches; with vm.video=kmsdrm it draws straight on the kernel's
# display (bochs DRM) and a uinput mouse clicks. Before each touch the touch
# file holds the target's position. Prints the controller's log and one
# result line, then reboots.
. /bin/boot_common.sh
cat > /tmp/vc.conf <<CONF
log-file /tmp/vc.log
controller
panel mirrored
store /tmp/store.txt
CONF
echo none > /tmp/touch
vc-uhid /tmp/vc.conf --touch /tmp/touch > /tmp/uhid.out 2>&1 &
for w in $(seq 1 100); do grep -q ready /tmp/uhid.out && break; sleep 0.1; done
grep -q ready /tmp/uhid.out || result "FAIL vc-uhid: $(cat /tmp/uhid.out)"
export XDG_RUNTIME_DIR=/tmp/run
if [ "$video" = kmsdrm ]; then
  export SDL_VIDEODRIVER=KMSDRM
  mkfifo /tmp/cmd
  uinput_clicker /tmp/cmd > /tmp/clicker.log 2>&1 &
  for w in $(seq 1 50); do grep -q ready /tmp/clicker.log && break; sleep 0.1; done
  touch_at() { echo click > /tmp/cmd; }
  answer_yes() { echo enter > /tmp/cmd; }
else
  export DISPLAY=:0 SDL_VIDEODRIVER=x11
  Xvfb :0 -screen 0 1024x768x24 -nolisten tcp -xkbdir /usr/share/X11/xkb > /tmp/xvfb.log 2>&1 &
  for w in $(seq 1 100); do [ -S /tmp/.X11-unix/X0 ] && break; sleep 0.1; done
  [ -S /tmp/.X11-unix/X0 ] || result "FAIL Xvfb: $(cat /tmp/xvfb.log)"
  touch_at() { xdotool mousemove "$1" "$2" click 1; }
  answer_yes() { xdotool key Return; }
fi
displays=$(kelcalib --list-displays) || result "FAIL --list-displays"
echo "$video: $displays"
size=$(echo "$displays" | head -1 | cut -d' ' -f2)
w=${size%x*} h=${size#*x}
t0=$(cut -d' ' -f1 /proc/uptime)
kelcalib > /tmp/app.log 2>&1 &
app=$!
cues() { c=$(grep -c "EVENT Q cue" /tmp/vc.log 2>/dev/null); echo ${c:-0}; }
waitcues() {
  for n in $(seq 1 600); do
    [ "$(cues)" -ge "$1" ] && return 0
    kill -0 $app 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
xs="$((w / 5)) $((4 * w / 5)) $((4 * w / 5)) $((w / 5))"
ys="$((h / 5)) $((4 * h / 5)) $((h / 5)) $((4 * h / 5))"
for i in 0 1 2 3; do
  waitcues $((i + 1)) || { cat /tmp/app.log; result "FAIL target $i never cued"; }
  [ $i -eq 0 ] && echo "first target cued at $(cut -d' ' -f1 /proc/uptime) s (program started at $t0 s)"
  sleep 0.8
  x=$(echo $xs | cut -d' ' -f$((i + 1)))
  y=$(echo $ys | cut -d' ' -f$((i + 1)))
  echo "$x $y $w $h" > /tmp/touch.new && mv /tmp/touch.new /tmp/touch
  touch_at "$x" "$y"
done
waitcues 5 || { cat /tmp/app.log; result "FAIL fourth touch not taken"; }
for n in $(seq 1 100); do [ "$(grep -c 'EVENT Cy accept' /tmp/vc.log)" -ge 2 ] && break; sleep 0.1; done
sleep 1.5
answer_yes
for n in $(seq 1 100); do kill -0 $app 2>/dev/null || break; sleep 0.1; done
wait $app
code=$?
sed 's/^/LOG: /' /tmp/vc.log
echo "store:"
cat /tmp/store.txt
[ $code -eq 0 ] && grep -q "WC accept committed" /tmp/vc.log && result "PASS (exit $code)"
cat /tmp/app.log
result "FAIL (exit $code)"
