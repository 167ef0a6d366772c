# Sourced by touch_init.sh on X11 after two_displays.sh (its helpers:
# start_xorg, stop_xorg): the physical size and rotation the program takes
# for a display, as `kelcalib --list-displays` tells them with the targets'
# radius, on QEMU's VGA, whose EDID gives the size (the bochs DRM driver,
# loaded only now, so that the runs before see no second GPU): on the
# console (KMS/DRM: the connector's millimetres), then under Xorg's
# modesetting driver on the same display (the RandR output's millimetres),
# shown normally and turned a quarter (xrandr --rotate left). One "SIZE"
# line each.
echo "DISPLAY SIZE"
for m in $(cat /modules/late-order); do insmod /modules/$m || result "FAIL insmod $m"; done
for n in $(seq 1 50); do [ -e /dev/dri/card0 ] && break; sleep 0.1; done
[ -e /dev/dri/card0 ] || result "FAIL no /dev/dri/card0"
echo "SIZE kmsdrm: $(SDL_VIDEODRIVER=KMSDRM kelcalib --list-displays 2>&1)"
start_xorg /etc/xorg-modesetting.conf
echo "SIZE x11: $(kelcalib --list-displays 2>&1)"
output=$(xrandr | sed -n 's/^\([^ ]*\) connected.*/\1/p' | head -1)
xrandr --output "$output" --rotate left || failed="$failed display-size"
echo "SIZE x11 turned: $(kelcalib --list-displays 2>&1)"
stop_xorg
