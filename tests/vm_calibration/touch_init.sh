#!/bin/busybox sh
# /init of the calibration VM, driven only by the controller's own touches:
# vc-uhid is a touch screen (its input reports make an event device beside
# the hidraw node), udev classifies it, and the display stack reads it like
# any touch screen. vm.video=x11: Xorg with the dummy video driver and the
# libinput input driver, which adds the controller when udev announces it;
# vm.video=kmsdrm: the program straight on the VM's display (bochs DRM) with
# SDL's console input, which finds the touch screen through udev;
# vm.video=wayland: weston driving that display (DRM backend, pixman
# renderer, kiosk shell) with the touch screen in its seat (libinput through
# udev), the program one of its clients.
# For each panel of vm.panels (default straight,mirrored,swapped) one whole
# calibration: each target touched by writing the touch file (finger down,
# then up), the question answered by touching its Yes button as the screen
# shows it (x_probe reads the X display, drm_probe the DRM framebuffer),
# then the landing check: 20 touches across the screen and where they land
# (X11: the pointer; elsewhere: the release the program's own event reading
# takes in a full-screen SDL window, sdl_touch_probe). sdl_touch_probe also
# counts the releases one touch gives the program (on X11 for five touches
# of the first panel).
# Prints the controller's log, store and the landings per panel; on X11
# then the controller unplugged mid-pass (unplug.sh), the proofs of which
# display (two_displays.sh) and of the display's size (display_size.sh);
# then one result line, and reboots.
. /bin/boot_common.sh
panels=straight,mirrored,swapped
for arg in $(cat /proc/cmdline); do
  case $arg in vm.panels=*) panels=${arg#vm.panels=} ;; esac
done
uptime_s() { cut -d' ' -f1 /proc/uptime; }
# start_xorg CONFIG: Xorg on :0 (its process id in $xorg), back once it listens.
start_xorg() {
  rm -f /tmp/Xorg.log
  Xorg :0 -config $1 -logfile /tmp/Xorg.log -noreset -nolisten tcp \
    -xkbdir /usr/share/X11/xkb -modulepath /usr/lib/xorg/modules >/tmp/xorg.out 2>&1 &
  xorg=$!
  for n in $(seq 1 150); do [ -S /tmp/.X11-unix/X0 ] && break; sleep 0.1; done
  [ -S /tmp/.X11-unix/X0 ] || result "FAIL Xorg ($1): $(tail -20 /tmp/Xorg.log /tmp/xorg.out)"
}
stop_xorg() {
  kill $xorg
  wait $xorg
  for n in $(seq 1 50); do [ -S /tmp/.X11-unix/X0 ] || break; sleep 0.1; done
}
systemd-udevd --daemon >/tmp/udevd.log 2>&1 || result "FAIL udevd: $(cat /tmp/udevd.log)"
udevadm trigger --action=add && udevadm settle -t 10
export XDG_RUNTIME_DIR=/tmp/run
case $video in
  x11)
    export DISPLAY=:0 SDL_VIDEODRIVER=x11
    start_xorg /etc/xorg-touch.conf
    ;;
  kmsdrm)
    export SDL_VIDEODRIVER=KMSDRM
    ;;
  wayland)
    # As root on a VT weston opens the display and the input devices itself
    # (its direct launcher; no logind in here).
    chmod 0700 "$XDG_RUNTIME_DIR"
    weston --backend=drm-backend.so --use-pixman --shell=kiosk-shell.so --tty=1 --idle-time=0 \
      --config=/etc/weston.ini --socket=wayland-0 --log=/tmp/weston.log >/tmp/weston.out 2>&1 &
    for n in $(seq 1 300); do [ -S "$XDG_RUNTIME_DIR/wayland-0" ] && break; sleep 0.1; done
    [ -S "$XDG_RUNTIME_DIR/wayland-0" ] || result "FAIL weston: $(tail -30 /tmp/weston.log /tmp/weston.out)"
    export WAYLAND_DISPLAY=wayland-0 SDL_VIDEODRIVER=wayland
    ;;
  *) result "FAIL unknown vm.video=$video" ;;
esac
displays=$(kelcalib --list-displays) || result "FAIL --list-displays"
echo "$video: $displays"
size=$(echo "$displays" | head -1 | cut -d' ' -f2)
w=${size%x*} h=${size#*x}

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
# touch X Y: the finger down at X, Y, then up.
touch_at() {
  echo "$1 $2 $w $h" >/tmp/touch.next && mv /tmp/touch.next /tmp/touch
  sleep 0.1
  echo none >/tmp/touch.next && mv /tmp/touch.next /tmp/touch
}
# The centres "X Y" of the question's buttons as the screen shows them, left
# to right (Yes, then No), once they are there; nothing after 10 s.
buttons() {
  for n in $(seq 1 50); do
    b=$(if [ $video = x11 ]; then x_probe buttons; else drm_probe buttons; fi)
    [ -n "$b" ] && { echo "$b"; return; }
    sleep 0.2
  done
}
# pass FIRST RECORDS: touches the four targets of a pass whose first target
# is the controller's cue number FIRST, then waits until it has accepted
# RECORDS Y records (the pass's solved one among them; the question follows
# once its reply is read). False when a cue does not come.
pass() {
  for i in 0 1 2 3; do
    waitcues $(($1 + i)) || return 1
    [ $i -eq 0 ] && echo "first target cued at $(uptime_s) s (program started at $t0 s)"
    # The target drawn before the finger comes (slower on Wayland, where
    # each frame goes through the software rasteriser).
    if [ $video = wayland ]; then sleep 1.5; else sleep 0.7; fi
    touch_at $(echo $xs | cut -d' ' -f$((i + 1))) $(echo $ys | cut -d' ' -f$((i + 1)))
  done
  waitcues $(($1 + 4)) || return 1
  for n in $(seq 1 100); do [ "$(grep -c 'EVENT Cy accept' /tmp/vc.log)" -ge $2 ] && break; sleep 0.1; done
}
xs="$((w / 5)) $((4 * w / 5)) $((4 * w / 5)) $((w / 5))"
ys="$((h / 5)) $((4 * h / 5)) $((h / 5)) $((4 * h / 5))"
# The landing grid: 5 x 4 points spread over the whole screen.
grid=
for j in 0 1 2 3; do
  for i in 0 1 2 3 4; do grid="$grid $((w * (2 * i + 1) / 10 + j * 7)) $((h * (2 * j + 1) / 8 + i * 5))"; done
done

failed=
for panel in $(echo $panels | tr , ' '); do
  echo "PANEL $panel"
  rm -f /tmp/vc.log /tmp/store.txt
  printf 'log-file /tmp/vc.log\ncontroller\npanel %s\nstore /tmp/store.txt\n' $panel >/tmp/vc.conf
  echo none >/tmp/touch
  added=$(grep -c 'Virtual touch controller' /tmp/Xorg.log 2>/dev/null)
  vc-uhid /tmp/vc.conf --touch /tmp/touch >/tmp/uhid.out 2>&1 &
  uhid=$!
  for n in $(seq 1 100); do grep -q ready /tmp/uhid.out && break; sleep 0.1; done
  grep -q ready /tmp/uhid.out || result "FAIL vc-uhid: $(cat /tmp/uhid.out)"
  [ $video = x11 ] && for n in $(seq 1 100); do
    [ "$(grep -c 'Virtual touch controller' /tmp/Xorg.log)" -gt "$added" ] && break
    sleep 0.1
  done
  udevadm settle -t 10
  [ $panel = ${panels%%,*} ] && {
    event=$(ls -d /sys/class/hidraw/$(basename $(sed -n 's/^device 0 //p' /tmp/uhid.out))/device/input/input*/event* | head -1)
    echo "UDEV: /dev/input/$(basename $event) $(udevadm info -q property -p $event | grep -E '^ID_INPUT_(TOUCHSCREEN|MOUSE|TOUCHPAD)=' | tr '\n' ' ')"
    [ $video = x11 ] && grep -E 'Adding extended input device "Virtual touch controller' /tmp/Xorg.log | sed 's/^/XORG: /'
    [ $video = wayland ] && { sleep 0.5; grep -E 'Touchscreen - Virtual touch controller' /tmp/weston.log | sed 's/^/WESTON: /'; }
  }
  t0=$(uptime_s)
  kelcalib >/tmp/app.log 2>&1 &
  app=$!
  pass 1 2 || { cat /tmp/app.log; failed="$failed $panel"; }
  yes=$(buttons | head -1)
  echo "question's Yes button at $yes"
  [ -n "$yes" ] && touch_at $yes
  for n in $(seq 1 100); do alive || break; sleep 0.1; done
  alive && { kill $app; failed="$failed $panel"; }
  wait $app
  echo "exit $?"
  sed 's/^/LOG: /' /tmp/vc.log
  echo "store:"
  cat /tmp/store.txt
  grep -q "WC accept committed" /tmp/vc.log || { cat /tmp/app.log; failed="$failed $panel"; }
  if [ $video = x11 ]; then
    x_probe land /tmp/touch $w $h $grid
    [ $panel = ${panels%%,*} ] && sdl_touch_probe /tmp/touch $w $h $(echo $grid | cut -d' ' -f1-10)
  else
    sdl_touch_probe /tmp/touch $w $h $grid
  fi
  kill $uhid
  wait $uhid
  echo "END $panel"
done
if [ $video = x11 ]; then
  . /bin/unplug.sh
  . /bin/two_displays.sh
  . /bin/display_size.sh
fi
[ -z "$failed" ] && result "PASS"
[ $video = wayland ] && sed 's/^/WESTON: /' /tmp/weston.log
result "FAIL (${failed# })"
