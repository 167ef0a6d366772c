# Sourced by touch_init.sh on X11 after the panels (its helpers: waitcues,
# touch_at, $xs, $ys): the controller unplugged in the middle of a pass.
# vc-uhid destroys the device when the model reports it gone (fault
# gone-after 0 after-cues 2: the read of the second target's touch), so the
# kernel answers that read with ENODEV. The program's message must be on the
# screen (one button) with nothing sent after that read; the program is then
# ended by SIGTERM (no touch screen is left to answer it). Prints the log as
# ULOG lines, the program's output as UAPP lines and "UNPLUG exit N".
echo "UNPLUG"
rm -f /tmp/vc.log
printf 'log-file /tmp/vc.log\ncontroller\nfault gone-after 0 after-cues 2\n' >/tmp/vc.conf
echo none >/tmp/touch
added=$(grep -c 'Virtual touch controller' /tmp/Xorg.log)
vc-uhid /tmp/vc.conf --touch /tmp/touch >/tmp/uhid.out 2>&1 &
uhid=$!
for n in $(seq 1 100); do grep -q ready /tmp/uhid.out && break; sleep 0.1; done
for n in $(seq 1 100); do
  [ "$(grep -c 'Virtual touch controller' /tmp/Xorg.log)" -gt "$added" ] && break
  sleep 0.1
done
udevadm settle -t 10
kelcalib >/tmp/app.log 2>&1 &
app=$!
for i in 1 2; do
  waitcues $i || break
  sleep 0.7
  touch_at $(echo $xs | cut -d' ' -f$i) $(echo $ys | cut -d' ' -f$i)
done
for n in $(seq 1 50); do b=$(x_probe buttons); [ -n "$b" ] && break; sleep 0.2; done
echo "UNPLUG buttons: $b"
sleep 1  # whatever the program would still send
kill $app
wait $app
echo "UNPLUG exit $?"
sed 's/^/ULOG: /' /tmp/vc.log
sed 's/^/UAPP: /' /tmp/app.log
kill $uhid
wait $uhid
