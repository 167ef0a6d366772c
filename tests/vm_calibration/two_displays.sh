# Sourced by touch_init.sh on X11 after the panels (its helpers: start_xorg,
# cues, waitcues, touch_at, pass, buttons): which display. Xorg again with
# the dummy video driver's two outputs (DUMMY0 800x600 at 0,0, DUMMY1
# 1024x768 at 800,0, xorg-two.conf and xrandr) and vc-uhid's touch screen,
# whose panel lies on DUMMY1: the touch file's points are DUMMY1's pixels.
#   IDENTIFY  kelcalib --identify --json: display 0 passed by with Esc, a
#             touch while display 1 shows its prompt;
#   MATRIX    the X device's coordinate transformation matrix (found by its
#             device node) before, once kelcalib --display 1 shows its first
#             target and after its Esc; then in a calibration on display 1
#             (section PANEL display-1, two passes, run with --persist) at
#             the first question, after No, at the second question and
#             after Yes (its output as OUT lines, the X configuration it
#             wrote as CONF lines: the udev rule that tags the event device
#             by where it is attached, and the X configuration that maps the
#             tag; the tag udev gave it as TAGS), then 20 landings across
#             DUMMY1 (LAND, in DUMMY1's pixels), and once Xorg has started
#             again with that configuration;
#   DOCTOR    kelcalib-ctl --json doctor afterwards, and its exit status;
#   TWO       two identical controllers (fffe:0001), each a vc-uhid of its own
#             with a touch file of its own, the first's panel on DUMMY0 and
#             the second's on DUMMY1: each calibrated on its display with
#             --persist, then, once Xorg has started again on what they
#             wrote, each event device's matrix (MATRIX2 K: ...).
# Leaves Xorg stopped; adds "two-displays" to $failed when a step fails.
echo "TWO DISPLAYS"
two_outputs() {
  start_xorg /etc/xorg-two.conf
  xrandr --addmode DUMMY1 1024x768 &&
    xrandr --output DUMMY0 --mode 800x600 --pos 0x0 --output DUMMY1 --mode 1024x768 --pos 800x0 ||
    result "FAIL xrandr: two outputs"
  # A full query probes the outputs again: the dummy driver reports DUMMY1
  # connected once it shows a mode, and SDL lists connected outputs only.
  xrandr >/dev/null
}
stop_xorg
two_outputs
echo "DISPLAYS: $(kelcalib --list-displays | tr '\n' '|')"
rm -f /tmp/vc.log /tmp/store.txt
printf 'log-file /tmp/vc.log\ncontroller\npanel straight\nstore /tmp/store.txt\n' >/tmp/vc.conf
echo none >/tmp/touch
vc-uhid /tmp/vc.conf --touch /tmp/touch >/tmp/uhid.out 2>&1 &
uhid=$!
for n in $(seq 1 100); do grep -q ready /tmp/uhid.out && break; sleep 0.1; done
grep -q ready /tmp/uhid.out || result "FAIL vc-uhid: $(cat /tmp/uhid.out)"
for n in $(seq 1 100); do grep -q 'Virtual touch controller' /tmp/Xorg.log && break; sleep 0.1; done
udevadm settle -t 10
node=$(sed -n 's/^device 0 //p' /tmp/uhid.out)
event=/dev/input/$(basename $(ls -d /sys/class/hidraw/$(basename $node)/device/input/input*/event* | head -1))
echo "NODES: $node $event"
matrix() { echo "MATRIX $1: $(x-input-props matrix $event)"; }
records() { grep -c "EVENT Cy accept" /tmp/vc.log; }
# finish NAME: the program's end (killed after 10 s) and its exit status.
finish() {
  for n in $(seq 1 100); do alive || break; sleep 0.1; done
  alive && { kill $app; failed="$failed two-displays"; echo "$1 did not end"; }
  wait $app
  echo "EXIT $1: $?"
}
matrix before

kelcalib --identify --json >/tmp/identify.out 2>/tmp/identify.err &
app=$!
waitcues 1 || failed="$failed two-displays"
sleep 1
xdotool key Escape
waitcues 2 || failed="$failed two-displays"
sleep 1
touch_at 500 400
finish identify
echo "IDENTIFY $(cat /tmp/identify.out)"

kelcalib --display 1 >/tmp/app.log 2>&1 &
app=$!
waitcues 3 || failed="$failed two-displays"
sleep 0.5
matrix started
xdotool key Escape
finish escape
matrix after-escape

echo "PANEL display-1"
# /etc/X11 is there wherever an X server is installed (not in this image).
mkdir -p /etc/X11
start=$(wc -l </tmp/vc.log)
c0=$(cues) y0=$(records) t0=$(uptime_s)
kelcalib --display 1 --persist >/tmp/app.log 2>&1 &
app=$!
pass $((c0 + 1)) $((y0 + 2)) || failed="$failed two-displays"
shown=$(buttons | awk '{print $1 - 800, $2}')
matrix question-1
touch_at $(echo "$shown" | sed -n 2p)
waitcues $((c0 + 6)) || failed="$failed two-displays"
sleep 0.5
matrix after-no
pass $((c0 + 6)) $((y0 + 4)) || failed="$failed two-displays"
shown=$(buttons | awk '{print $1 - 800, $2}')
matrix question-2
touch_at $(echo "$shown" | sed -n 1p)
finish yes
matrix after-yes
# Where touches land in the session the calibration ends (DUMMY1's pixels).
x_probe land /tmp/touch $w $h $grid | awk '{print $1, $2, $3, $4 - 800, $5}'
sed 's/^/OUT: /' /tmp/app.log
sed 's/^/CONF: /' /etc/X11/xorg.conf.d/99-kelcalib-fffe-0001-*.conf /etc/udev/rules.d/71-kelcalib-fffe-0001-*.rules
echo "TAGS: $(udevadm info -q property -n $event | sed -n 's/^ID_INPUT.tags=//p')"
# The X server started again reads the configuration written.
stop_xorg
two_outputs
for n in $(seq 1 100); do grep -q 'Virtual touch controller' /tmp/Xorg.log && break; sleep 0.1; done
matrix restarted
tail -n +$((start + 1)) /tmp/vc.log | sed 's/^/LOG: /'
echo "store:"
cat /tmp/store.txt
echo "PASSES 2"
echo "END display-1"
report=$(kelcalib-ctl --json doctor)
echo "DOCTOR $? $report"
kill $uhid
wait $uhid

echo "TWO CONTROLLERS"
rm -f /etc/X11/xorg.conf.d/99-kelcalib-* /etc/udev/rules.d/71-kelcalib-*
for k in 0 1; do
  rm -f /tmp/vc$k.log
  printf 'log-file /tmp/vc%d.log\ncontroller\npanel straight\nstore /tmp/store%d.txt\n' $k $k >/tmp/vc$k.conf
  echo none >/tmp/touch$k
  vc-uhid /tmp/vc$k.conf --touch /tmp/touch$k >/tmp/uhid$k.out 2>&1 &
  eval uhid$k=\$!
  for n in $(seq 1 100); do grep -q ready /tmp/uhid$k.out && break; sleep 0.1; done
done
udevadm settle -t 10
event_of() { echo /dev/input/$(basename $(ls -d /sys/class/hidraw/$(basename $1)/device/input/input*/event* | head -1)); }
node0=$(sed -n 's/^device 0 //p' /tmp/uhid0.out) node1=$(sed -n 's/^device 0 //p' /tmp/uhid1.out)
event0=$(event_of $node0) event1=$(event_of $node1)
echo "NODES2: $node0 $event0 $node1 $event1"
# Both X devices there (x-input-props finds a device by its node).
xdevices() { for n in $(seq 1 100); do x-input-props matrix $event0 >/dev/null 2>&1 &&
  x-input-props matrix $event1 >/dev/null 2>&1 && return; sleep 0.1; done; }
xdevices
kcues() { c=$(grep -c "EVENT Q cue" /tmp/vc$1.log 2>/dev/null); echo ${c:-0}; }
ktouch() {  # ktouch K X Y W H: controller K's finger down at X, Y of its W x H panel, then up
  echo "$2 $3 $4 $5" >/tmp/touch$1.next && mv /tmp/touch$1.next /tmp/touch$1
  sleep 0.1
  echo none >/tmp/touch$1.next && mv /tmp/touch$1.next /tmp/touch$1
}
kwait() { for n in $(seq 1 300); do [ "$(kcues $1)" -ge $2 ] && return 0; sleep 0.1; done; return 1; }
# kpersist K NODE DISPLAY LEFT W H: a pass on controller K and Yes touched.
kpersist() {
  kelcalib --device $2 --display $3 --persist >/tmp/app$1.log 2>&1 &
  app=$!
  for i in 0 1 2 3; do
    kwait $1 $((i + 1)) || { echo "controller $1: no cue $((i + 1))"; failed="$failed two-controllers"; }
    sleep 0.7
    x=$(( (i == 0 || i == 3 ? 1 : 4) * $5 / 5 )) y=$(( (i == 0 || i == 2 ? 1 : 4) * $6 / 5 ))
    ktouch $1 $x $y $5 $6
  done
  kwait $1 5 || failed="$failed two-controllers"
  for n in $(seq 1 100); do grep -q 'EVENT Cy accept' /tmp/vc$1.log && [ "$(grep -c 'EVENT Cy accept' /tmp/vc$1.log)" -ge 2 ] && break; sleep 0.1; done
  yes=$(buttons | head -1 | awk -v left=$4 '{print $1 - left, $2}')
  ktouch $1 $yes $5 $6
  finish "persist $1"
  sed "s/^/OUT$1: /" /tmp/app$1.log
}
kpersist 0 $node0 0 0 800 600
kpersist 1 $node1 1 800 1024 768
ls /etc/X11/xorg.conf.d/ /etc/udev/rules.d/ | sed 's/^/FILES2: /'
stop_xorg
two_outputs
xdevices
echo "MATRIX2 0: $(x-input-props matrix $event0)"
echo "MATRIX2 1: $(x-input-props matrix $event1)"
kill $uhid0 $uhid1
wait $uhid0 $uhid1
stop_xorg
