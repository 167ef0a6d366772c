#!/bin/busybox sh
# /init of the VM of which display: Xorg with the dummy video driver and two
# outputs (DUMMY0 800x600 at 0,0, DUMMY1 1024x768 at 800,0), the libinput
# driver reading vc-uhid's touch screen, whose panel lies on DUMMY1 (the
# touch file's points are DUMMY1's pixels).
#   IDENTIFY  kelcalib --identify --json: display 0 passed by with Esc, a
#             touch while display 1 shows its prompt;
#   MATRIX    the X device's coordinate transformation matrix (found by its
#             device node), at each step of two runs of kelcalib --display 1:
#             the first ended with Esc, the second with No at the first
#             question and Yes at the second (its output printed as OUT);
#   LAND      20 touches across DUMMY1 after Yes and where the pointer lands
#             (x_probe);
#   DOCTOR    kelcalib-ctl --json doctor on this system, with the udev rule
#             installed.
# Prints the controller's log and store, then one result line, and reboots.
. /bin/boot_common.sh
mkdir -p /etc/udev/rules.d && cp /etc/70-kelcalib.rules /etc/udev/rules.d/
systemd-udevd --daemon >/tmp/udevd.log 2>&1 || result "FAIL udevd: $(cat /tmp/udevd.log)"
udevadm trigger --action=add && udevadm settle -t 10
export XDG_RUNTIME_DIR=/tmp/run DISPLAY=:0 SDL_VIDEODRIVER=x11 SDL_FRAMEBUFFER_ACCELERATION=0
Xorg :0 -config /etc/xorg-two.conf -logfile /tmp/Xorg.log -noreset -nolisten tcp \
  -xkbdir /usr/share/X11/xkb -modulepath /usr/lib/xorg/modules >/tmp/xorg.out 2>&1 &
for n in $(seq 1 150); do [ -S /tmp/.X11-unix/X0 ] && break; sleep 0.1; done
[ -S /tmp/.X11-unix/X0 ] || result "FAIL Xorg: $(tail -20 /tmp/Xorg.log /tmp/xorg.out)"
xrandr --addmode DUMMY1 1024x768 &&
  xrandr --output DUMMY0 --mode 800x600 --pos 0x0 --output DUMMY1 --mode 1024x768 --pos 800x0 ||
  result "FAIL xrandr: two outputs"
# A full query probes the outputs again: the dummy driver reports DUMMY1
# connected once it shows a mode, and SDL lists connected outputs only.
xrandr >/dev/null
echo "DISPLAYS: $(kelcalib --list-displays | tr '\n' '|')"

printf 'log-file /tmp/vc.log\ncontroller\npanel straight\nstore /tmp/store.txt\n' >/tmp/vc.conf
echo none >/tmp/touch
vc-uhid /tmp/vc.conf --touch /tmp/touch >/tmp/uhid.out 2>&1 &
for n in $(seq 1 100); do grep -q ready /tmp/uhid.out && break; sleep 0.1; done
grep -q ready /tmp/uhid.out || result "FAIL vc-uhid: $(cat /tmp/uhid.out)"
for n in $(seq 1 100); do grep -q 'Virtual touch controller' /tmp/Xorg.log && break; sleep 0.1; done
udevadm settle -t 10
node=$(sed -n 's/^device 0 //p' /tmp/uhid.out)
event=/dev/input/$(basename $(ls -d /sys/class/hidraw/$(basename $node)/device/input/input*/event* | head -1))
echo "NODES: $node $event"
matrix() { echo "MATRIX $1: $(x-input-props matrix $event)"; }
matrix before

cues() { c=$(grep -c "EVENT Q cue" /tmp/vc.log 2>/dev/null); echo ${c:-0}; }
alive() { kill -0 $app 2>/dev/null; }
waitcues() {
  for n in $(seq 1 600); do
    [ "$(cues)" -ge "$1" ] && return 0
    alive || return 1
    sleep 0.1
  done
  return 1
}
records() { c=$(grep -c "EVENT Cy accept" /tmp/vc.log 2>/dev/null); echo ${c:-0}; }
# touch X Y: the finger down at DUMMY1's pixel X, Y, then up.
touch_at() {
  echo "$1 $2 1024 768" >/tmp/touch.next && mv /tmp/touch.next /tmp/touch
  sleep 0.1
  echo none >/tmp/touch.next && mv /tmp/touch.next /tmp/touch
}
# The question's buttons on DUMMY1, left to right: "X Y" of DUMMY1's pixels.
buttons() {
  for n in $(seq 1 50); do
    b=$(x_probe buttons)
    [ "$(echo "$b" | grep -c .)" -ge 2 ] && { echo "$b" | awk '{print $1 - 800, $2}'; return; }
    sleep 0.2
  done
}
# pass FIRST: touches the four targets, the first cued as cue FIRST, and
# waits for the Y record (the question follows it once its reply is read).
pass() {
  for i in 0 1 2 3; do
    waitcues $(($1 + i)) || result "FAIL target $i of the pass from cue $1"
    sleep 0.7
    touch_at $(echo "204 819 819 204" | cut -d' ' -f$((i + 1))) $(echo "153 614 153 614" | cut -d' ' -f$((i + 1)))
  done
  waitcues $(($1 + 4)) || result "FAIL fourth touch of the pass from cue $1"
  want=$(($(records) + 1))
  for n in $(seq 1 100); do [ "$(records)" -ge $want ] && break; sleep 0.1; done
}
finish() {
  for n in $(seq 1 100); do alive || break; sleep 0.1; done
  alive && { kill $app; result "FAIL $1 did not end"; }
  wait $app
  echo "EXIT $1: $?"
}

kelcalib --identify --json >/tmp/identify.out 2>/tmp/identify.err &
app=$!
waitcues 1 || result "FAIL identify: no cue"
sleep 1
xdotool key Escape
waitcues 2 || result "FAIL identify: no second cue"
sleep 1
touch_at 500 400
finish identify
echo "IDENTIFY $(cat /tmp/identify.out)"

kelcalib --display 1 >/tmp/esc.out 2>&1 &
app=$!
waitcues 3 || result "FAIL --display 1: no cue"
sleep 0.5
matrix started
xdotool key Escape
finish escape
matrix after-escape

kelcalib --display 1 >/tmp/app.out 2>&1 &
app=$!
pass 4
shown=$(buttons)
matrix question-1
touch_at $(echo "$shown" | sed -n 2p)
waitcues 9 || result "FAIL no new pass after No"
sleep 0.5
matrix after-no
pass 9
shown=$(buttons)
matrix question-2
touch_at $(echo "$shown" | sed -n 1p)
finish yes
matrix after-yes
sed 's/^/OUT: /' /tmp/app.out
grid=
for j in 0 1 2 3; do
  for i in 0 1 2 3 4; do grid="$grid $((1024 * (2 * i + 1) / 10 + j * 7)) $((768 * (2 * j + 1) / 8 + i * 5))"; done
done
x_probe land /tmp/touch 1024 768 $grid | awk '{print $1, $2, $3, $4 - 800, $5}'
report=$(kelcalib-ctl --json doctor)
echo "DOCTOR $? $report"
sed 's/^/LOG: /' /tmp/vc.log
echo "store:"
cat /tmp/store.txt
result PASS
