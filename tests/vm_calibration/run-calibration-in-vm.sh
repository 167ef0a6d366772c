#!/usr/bin/env bash
# Whole calibrations of the Linux kelcalib inside the test VM, against the
# virtual controller made a real kernel HID device by vc-uhid: the program's
# hidraw link meets the kernel's own driver.
#
#   tests/vm_calibration/run-calibration-in-vm.sh [MODE]...   (default: all five)
#
#   x11-touch  driven by the controller's own touches (tests/vm_calibration/
#              touch_init.sh): Xorg with the dummy video driver and the
#              libinput input driver reads vc-uhid's touch screen, which
#              udev classifies; three panels in one boot (straight,
#              mirrored, swapped), each a calibration, its question answered
#              by touching Yes where the screen shows it (x_probe.c), then
#              the landing check (20 touches, the pointer within 2 px of the
#              finger), and the releases five touches give a program
#              (sdl_touch_probe.cpp: one each); then in the same boot which
#              display (two_displays.sh: two outputs, --identify, the X
#              mapping of a calibration on display 1 and where touches land
#              there, doctor) and the display's size and rotation
#              (display_size.sh, on QEMU's VGA);
#   kmsdrm-touch  the same driven by touch on SDL's KMS/DRM driver and its
#              console input (evdev through udev); the landings are the
#              releases the program's own event reading takes
#              (sdl_touch_probe.cpp), one per touch; the Yes button is found
#              in the framebuffer the display scans out (drm_probe.c);
#   wayland-touch  the same on weston (DRM backend on the VM's display,
#              pixman renderer, kiosk shell) whose seat holds the touch
#              screen, the program and the probe its Wayland clients
#              (SDL's Wayland driver, Mesa's software GL);
#   x11        pointer: SDL's X11 driver in an Xvfb inside the VM, xdotool
#              clicks (init.sh);
#   kmsdrm     pointer: SDL's KMS/DRM driver straight on the VM's display
#              (QEMU's VGA, the bochs DRM driver, Mesa's software EGL), a
#              uinput mouse clicks (init.sh).
#
# The image is the VM suite's (tools/vm/build-image.sh: kernel, HID modules,
# busybox) plus a second archive with the program, vc-uhid, the display
# stack, their libraries, modules and the font. Checks each calibration's
# committed records against calib-solve for the raw points read, and the
# landings. Exits 0 when every run passed. VM_TOOLS and VC_UHID override
# where tools/vm and vc-uhid are; VM_PANELS (e.g. "mirrored") the touch
# modes' panels; VM_KEEP_LOGS=DIR keeps each run's serial console there.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
. scripts/lib.sh
vm_tools=${VM_TOOLS:-tools/vm}
modes="x11-touch kmsdrm-touch wayland-touch x11 kmsdrm"
case ${1:-} in
  -h|--help) sed -n '2,42p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
videos=("$@")
[ ${#videos[@]} -gt 0 ] || read -ra videos <<<"$modes"
for video in "${videos[@]}"; do
  case " $modes " in
    *" $video "*) ;;
    *) echo "run-calibration-in-vm: unknown mode '$video' (${modes// /, }; --help says more)" >&2; exit 2 ;;
  esac
done
work=$(mktemp -d /tmp/kelcalib-vm-calibration.XXXXXX)
qemu=
cleanup() {
  [ -z "$qemu" ] || { kill "$qemu" 2>/dev/null; wait "$qemu" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

build_folder_check release-linux native
build_programs() {
  cmake --preset release-linux &&
    cmake --build --preset release-linux --target kelcalib kelcalib-ctl &&
    cmake --preset native &&
    cmake --build --preset native --target calib-solve $([ -n "${VC_UHID:-}" ] || echo vc-uhid)
}
build_with_progress "VM calibrations" build_programs
[ -n "${VC_UHID:-}" ] || VC_UHID=$(find build/native -name vc-uhid -type f -perm -u+x | head -1)
gcc -Wall -Wextra -O2 -static -o "$work/uinput_clicker" tests/vm_calibration/uinput_clicker.c
gcc -Wall -Wextra -O2 -o "$work/x_probe" tests/vm_calibration/x_probe.c -lX11
gcc -Wall -Wextra -O2 -o "$work/x-input-props" tests/e2e_linux/x_input_props.c -lX11 -lXi
gcc -Wall -Wextra -O2 -static $(pkg-config --cflags libdrm) -o "$work/drm_probe" tests/vm_calibration/drm_probe.c
g++ -Wall -Wextra -O2 -I. $(pkg-config --cflags sdl2) -o "$work/sdl_touch_probe" \
  tests/vm_calibration/sdl_touch_probe.cpp app/touch_capture_linux.cpp $(pkg-config --libs sdl2)
# The VM's kernel and its modules: Debian's package unpacked into
# build/vm-cache/ (the machine's own kernel is not read).
. "$vm_tools/kernel.sh"
vm_kernel_fetch
lib=/usr/lib/x86_64-linux-gnu

# stage DIR FILE...: the programs into DIR/usr/bin, every library they or
# the listed libraries load into DIR at its own path.
stage() {
  local dir=$1 f
  shift
  mkdir -p "$dir/usr/bin" "$dir/lib64" "$dir/usr/share/fonts/truetype/dejavu"
  for f in $( (for f in "$@"; do case $f in /*) echo "$f" ;; *) readlink -f "$f" ;; esac; ldd "$f" 2>/dev/null | awk '/=>/ {print $3}'; done) | sort -u); do
    case $f in
      *.so|*.so.*) mkdir -p "$dir$(dirname "$f")"; cp -L "$f" "$dir$f" ;;
      *) cp "$f" "$dir/usr/bin/" ;;
    esac
  done
  cp -L /lib64/ld-linux-x86-64.so.2 "$dir/lib64/"
  cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$dir/usr/share/fonts/truetype/dejavu/"
}

# kmod_list DIR MODULE...: the modules and what they need into DIR/modules,
# in load order, listed in DIR/modules/video-order.
kmod_list() {
  local dir=$1 verb path name
  shift
  mkdir -p "$dir/modules"
  : >"$dir/modules/video-order"
  while read -r verb path _; do
    [ "$verb" = insmod ] || continue
    name=$(basename "$path")
    case $name in *.xz) name=${name%.xz}; xz -dc "$path" >"$dir/modules/$name" ;; *) cp "$path" "$dir/modules/$name" ;; esac
    grep -qx "$name" "$dir/modules/video-order" || echo "$name" >>"$dir/modules/video-order"
  done < <(vm_kernel_show_depends "$@")
}

# stage_udev DIR: udevd and the rules that classify input devices.
stage_udev() {
  local dir=$1 r
  stage "$dir" /usr/bin/udevadm
  ln -s udevadm "$dir/usr/bin/systemd-udevd"
  mkdir -p "$dir/usr/lib/udev/rules.d" "$dir/usr/share"
  for r in 50-udev-default 60-input-id 60-evdev 60-persistent-input 70-touchpad 80-libinput-device-groups 90-libinput-fuzz-override; do
    [ -f "/usr/lib/udev/rules.d/$r.rules" ] && cp "/usr/lib/udev/rules.d/$r.rules" "$dir/usr/lib/udev/rules.d/"
  done
  cp -r /usr/share/libinput "$dir/usr/share/"
}

bash "$vm_tools/build-image.sh" --out "$work/img" --init tests/vm_calibration/init.sh \
  --add tests/vm_calibration/boot_common.sh
bash "$vm_tools/build-image.sh" --out "$work/img-touch" --init tests/vm_calibration/touch_init.sh \
  --add tests/vm_calibration/boot_common.sh --add tests/vm_calibration/two_displays.sh \
  --add tests/vm_calibration/display_size.sh --add tests/vm_calibration/unplug.sh
status=0
for video in "${videos[@]}"; do
  extra=$work/extra-$video
  img=$work/img append=
  case $video in
    x11-touch)
      img=$work/img-touch append="vm.video=x11"
      # With the two outputs, the X devices' matrices, doctor, and the
      # display's size on QEMU's VGA (modesetting; SDL's KMS/DRM driver
      # loads libdrm and libgbm), whose DRM driver loads late (late-order).
      stage "$extra" /usr/lib/xorg/Xorg /usr/bin/xkbcomp build/release-linux/app/kelcalib "$VC_UHID" "$work/x_probe" \
        "$work/sdl_touch_probe" "$work/x-input-props" build/release-linux/ctl/kelcalib-ctl \
        /usr/bin/xrandr /usr/bin/xdotool \
        /usr/lib/xorg/modules/*.so /usr/lib/xorg/modules/drivers/dummy_drv.so \
        /usr/lib/xorg/modules/drivers/modesetting_drv.so /usr/lib/xorg/modules/input/libinput_drv.so \
        $lib/libX11.so.6 $lib/libXext.so.6 $lib/libXcursor.so.1 $lib/libXi.so.6 $lib/libXfixes.so.3 \
        $lib/libXrandr.so.2 $lib/libXss.so.1 $lib/libxkbcommon.so.0 $lib/libXrender.so.1 $lib/libX11-xcb.so.1 \
        $lib/libdrm.so.2 $lib/libgbm.so.1
      mkdir -p "$extra/usr/share/X11" "$extra/etc/udev/rules.d"
      cp tests/vm_calibration/xorg-touch.conf tests/vm_calibration/xorg-two.conf \
        tests/vm_calibration/xorg-modesetting.conf "$extra/etc/"
      cp build/release-linux/70-kelcalib.rules "$extra/etc/udev/rules.d/"
      cp -r /usr/share/X11/xkb "$extra/usr/share/X11/"
      kmod_list "$extra" bochs
      mv "$extra/modules/video-order" "$extra/modules/late-order"
      stage_udev "$extra"
      qemu_video=(-device VGA -display none) memory=1024 ;;
    wayland-touch)
      img=$work/img-touch append="vm.video=wayland video=1024x768"
      stage "$extra" /usr/bin/weston build/release-linux/app/kelcalib "$VC_UHID" "$work/sdl_touch_probe" "$work/drm_probe" \
        $lib/libweston-10/drm-backend.so $lib/weston/kiosk-shell.so \
        $lib/dri/swrast_dri.so $lib/libEGL_mesa.so.0 $lib/libGLESv2.so.2 $lib/libEGL.so.1 $lib/libGL.so.1 \
        $lib/libwayland-client.so.0 $lib/libwayland-egl.so.1 $lib/libwayland-cursor.so.0 \
        $lib/libxkbcommon.so.0 $lib/libdecor-0.so.0
      mkdir -p "$extra/usr/share/glvnd/egl_vendor.d" "$extra/usr/share/X11" "$extra/etc"
      cp /usr/share/glvnd/egl_vendor.d/50_mesa.json "$extra/usr/share/glvnd/egl_vendor.d/"
      cp -r /usr/share/X11/xkb "$extra/usr/share/X11/"
      cp tests/vm_calibration/weston.ini "$extra/etc/"
      kmod_list "$extra" bochs
      stage_udev "$extra"
      qemu_video=(-device VGA -display none) memory=1536 ;;
    x11)
      stage "$extra" /usr/bin/Xvfb /usr/bin/xkbcomp /usr/bin/xdotool build/release-linux/app/kelcalib "$VC_UHID" \
        $lib/libX11.so.6 $lib/libXext.so.6 $lib/libXcursor.so.1 $lib/libXi.so.6 $lib/libXfixes.so.3 \
        $lib/libXrandr.so.2 $lib/libXss.so.1 $lib/libxkbcommon.so.0 $lib/libXrender.so.1 $lib/libX11-xcb.so.1
      mkdir -p "$extra/usr/share/X11"
      cp -r /usr/share/X11/xkb "$extra/usr/share/X11/"
      append="vm.video=x11"
      qemu_video=() memory=768 ;;
    kmsdrm-touch)
      img=$work/img-touch append="vm.video=kmsdrm video=1024x768"
      stage "$extra" build/release-linux/app/kelcalib "$VC_UHID" "$work/sdl_touch_probe" "$work/drm_probe" \
        $lib/dri/kms_swrast_dri.so $lib/libEGL_mesa.so.0 $lib/libgbm.so.1 $lib/libGLESv2.so.2 \
        $lib/libEGL.so.1 $lib/libudev.so.1 $lib/libdrm.so.2
      mkdir -p "$extra/usr/share/glvnd/egl_vendor.d"
      cp /usr/share/glvnd/egl_vendor.d/50_mesa.json "$extra/usr/share/glvnd/egl_vendor.d/"
      kmod_list "$extra" bochs
      stage_udev "$extra"
      qemu_video=(-device VGA -display none) memory=1536 ;;
    kmsdrm)
      stage "$extra" build/release-linux/app/kelcalib "$VC_UHID" "$work/uinput_clicker" \
        $lib/dri/kms_swrast_dri.so $lib/libEGL_mesa.so.0 $lib/libgbm.so.1 $lib/libGLESv2.so.2 \
        $lib/libEGL.so.1 $lib/libudev.so.1 $lib/libdrm.so.2
      mkdir -p "$extra/usr/share/glvnd/egl_vendor.d"
      cp /usr/share/glvnd/egl_vendor.d/50_mesa.json "$extra/usr/share/glvnd/egl_vendor.d/"
      kmod_list "$extra" bochs uinput
      append="vm.video=kmsdrm"
      qemu_video=(-device VGA -display none) memory=1536 ;;
    *) echo "run-calibration-in-vm: unknown mode '$video' (x11-touch, kmsdrm-touch, wayland-touch, x11, kmsdrm)" >&2; exit 2 ;;
  esac
  (cd "$extra" && find . | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0) | gzip -1 >"$work/extra.gz"
  cat "$img/initramfs.gz" "$work/extra.gz" >"$work/all.gz"
  extra_mb=$(du -sm "$extra" | cut -f1)
  rm -rf "$extra" "$work/extra.gz"
  started=$SECONDS
  timeout 400 qemu-system-x86_64 -accel tcg -M pc -m "$memory" -smp 1 -kernel "$img/vmlinux" \
    -initrd "$work/all.gz" -append "console=ttyS0 quiet panic=-1 reboot=t $append${VM_PANELS:+ vm.panels=$VM_PANELS}" \
    -nodefaults "${qemu_video[@]}" -nographic -serial stdio -no-reboot </dev/null >"$work/console-$video.log" 2>&1 &
  qemu=$!
  wait "$qemu" || true
  qemu=
  log=$work/console-$video.log
  [ -z "${VM_KEEP_LOGS:-}" ] || { mkdir -p "$VM_KEEP_LOGS"; cp "$log" "$VM_KEEP_LOGS/"; }
  tr -d '\r' <"$log" | grep -E '^(x11|kmsdrm|wayland): |^first target|^PANEL|^UDEV|^XORG|^WESTON: .*Touchscreen|^question|^UNPLUG|^DISPLAYS:|^SIZE|^VM-APP-RESULT' || true
  echo "($video: $((SECONDS - started)) s with the boot; display stack $extra_mb MB, initramfs $(($(stat -c %s "$work/all.gz") / 1048576)) MB)"
  if ! grep -q 'VM-APP-RESULT: PASS' "$log"; then
    tr -d '\r' <"$log" | tail -30
    status=1
    continue
  fi
  python3 tests/vm_calibration/check_vm_log.py "$log" build/native/calib-solve || status=1
  if [ "$video" = x11-touch ]; then
    python3 tests/vm_calibration/check_vm_log.py --unplugged "$log" || status=1
    python3 tests/vm_calibration/check_displays_log.py "$log" || status=1
  fi
done
exit "$status"
