#!/bin/busybox sh
# /init of the display-size VM: the physical size and rotation the Linux
# program takes for a display, as `kelcalib --list-displays` tells them with
# the targets' radius, on QEMU's VGA (its EDID gives the size): on the
# console (KMS/DRM: the connector's millimetres), then under Xorg's
# modesetting driver on the same display (the RandR output's millimetres),
# shown normally and turned a quarter (xrandr --rotate left). Prints one
# "SIZE" line each and a result line, then reboots.
. /bin/boot_common.sh
export XDG_RUNTIME_DIR=/tmp/run
for n in $(seq 1 50); do [ -e /dev/dri/card0 ] && break; sleep 0.1; done
[ -e /dev/dri/card0 ] || result "FAIL no /dev/dri/card0"
echo "SIZE kmsdrm: $(SDL_VIDEODRIVER=KMSDRM kelcalib --list-displays 2>&1)"
Xorg :0 -config /etc/xorg-modesetting.conf -logfile /tmp/Xorg.log -noreset -nolisten tcp \
  -xkbdir /usr/share/X11/xkb -modulepath /usr/lib/xorg/modules >/tmp/xorg.out 2>&1 &
for n in $(seq 1 150); do [ -S /tmp/.X11-unix/X0 ] && break; sleep 0.1; done
[ -S /tmp/.X11-unix/X0 ] || result "FAIL Xorg: $(tail -20 /tmp/Xorg.log /tmp/xorg.out)"
export DISPLAY=:0 SDL_VIDEODRIVER=x11 SDL_FRAMEBUFFER_ACCELERATION=0
echo "SIZE x11: $(kelcalib --list-displays 2>&1)"
output=$(xrandr | sed -n 's/^\([^ ]*\) connected.*/\1/p' | head -1)
xrandr --output "$output" --rotate left || result "FAIL xrandr --rotate left"
echo "SIZE x11 turned: $(kelcalib --list-displays 2>&1)"
result PASS
