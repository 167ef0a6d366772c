#!/usr/bin/env bash
# Whole calibrations of the Linux kelcalib inside the test VM, against the
# virtual controller made a real kernel HID device by vc-uhid: the program's
# hidraw link meets the kernel's own driver.
#
#   tests/vm_calibration/run-calibration-in-vm.sh [x11|kmsdrm]...   (default: both)
#
#   x11     SDL's X11 driver in an Xvfb inside the VM, xdotool touches;
#   kmsdrm  SDL's KMS/DRM driver straight on the VM's display (QEMU's VGA,
#           the bochs DRM driver, Mesa's software EGL), a uinput mouse clicks.
#
# The image is the VM suite's (tools/vm/build-image.sh: kernel, HID modules,
# busybox) plus a second archive with the program, vc-uhid, the display
# stack, their libraries, modules and the font. Checks each run's committed
# records against calib-solve for the raw points read. Exits 0 when every
# run passed. VM_TOOLS and VC_UHID override where tools/vm and vc-uhid are.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
vm_tools=${VM_TOOLS:-tools/vm}
videos=("$@")
[ ${#videos[@]} -gt 0 ] || videos=(x11 kmsdrm)
work=$(mktemp -d /tmp/kelcalib-vm-calibration.XXXXXX)
qemu=
cleanup() {
  [ -z "$qemu" ] || { kill "$qemu" 2>/dev/null; wait "$qemu" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

cmake --preset release-linux >/dev/null
cmake --build --preset release-linux --target kelcalib >/dev/null
cmake --preset native >/dev/null
cmake --build --preset native --target calib-solve >/dev/null
if [ -z "${VC_UHID:-}" ]; then
  cmake --build --preset native --target vc-uhid >/dev/null
  VC_UHID=$(find build/native -name vc-uhid -type f -perm -u+x | head -1)
fi
gcc -Wall -Wextra -O2 -static -o "$work/uinput_clicker" tests/vm_calibration/uinput_clicker.c
kver=$(ls /boot/vmlinuz-* | sort -V | tail -1 | sed 's|/boot/vmlinuz-||')
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

bash "$vm_tools/build-image.sh" --out "$work/img" --init tests/vm_calibration/init.sh
status=0
for video in "${videos[@]}"; do
  extra=$work/extra-$video
  case $video in
    x11)
      stage "$extra" /usr/bin/Xvfb /usr/bin/xkbcomp /usr/bin/xdotool build/release-linux/app/kelcalib "$VC_UHID" \
        $lib/libX11.so.6 $lib/libXext.so.6 $lib/libXcursor.so.1 $lib/libXi.so.6 $lib/libXfixes.so.3 \
        $lib/libXrandr.so.2 $lib/libXss.so.1 $lib/libxkbcommon.so.0 $lib/libXrender.so.1 $lib/libX11-xcb.so.1
      mkdir -p "$extra/usr/share/X11"
      cp -r /usr/share/X11/xkb "$extra/usr/share/X11/"
      qemu_video=() memory=768 ;;
    kmsdrm)
      stage "$extra" build/release-linux/app/kelcalib "$VC_UHID" "$work/uinput_clicker" \
        $lib/dri/kms_swrast_dri.so $lib/libEGL_mesa.so.0 $lib/libgbm.so.1 $lib/libGLESv2.so.2 \
        $lib/libEGL.so.1 $lib/libudev.so.1 $lib/libdrm.so.2
      mkdir -p "$extra/usr/share/glvnd/egl_vendor.d" "$extra/modules"
      cp /usr/share/glvnd/egl_vendor.d/50_mesa.json "$extra/usr/share/glvnd/egl_vendor.d/"
      : >"$extra/modules/video-order"
      while read -r verb path _; do
        [ "$verb" = insmod ] || continue
        name=$(basename "$path")
        case $name in *.xz) name=${name%.xz}; xz -dc "$path" >"$extra/modules/$name" ;; *) cp "$path" "$extra/modules/$name" ;; esac
        grep -qx "$name" "$extra/modules/video-order" || echo "$name" >>"$extra/modules/video-order"
      done < <(for m in bochs evdev uinput; do modprobe -S "$kver" --show-depends "$m"; done)
      qemu_video=(-device VGA -display none) memory=1536 ;;
    *) echo "run-calibration-in-vm: unknown video driver '$video' (x11, kmsdrm)" >&2; exit 2 ;;
  esac
  (cd "$extra" && find . | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0) | gzip -1 >"$work/extra.gz"
  cat "$work/img/initramfs.gz" "$work/extra.gz" >"$work/all.gz"
  rm -rf "$extra" "$work/extra.gz"
  started=$SECONDS
  timeout 400 qemu-system-x86_64 -accel tcg -M pc -m "$memory" -smp 1 -kernel "$work/img/vmlinux" \
    -initrd "$work/all.gz" -append "console=ttyS0 quiet panic=-1 reboot=t vm.video=$video" \
    -nodefaults "${qemu_video[@]}" -nographic -serial stdio -no-reboot </dev/null >"$work/console-$video.log" 2>&1 &
  qemu=$!
  wait "$qemu" || true
  qemu=
  log=$work/console-$video.log
  tr -d '\r' <"$log" | grep -E '^(x11|kmsdrm): |^first target|^VM-APP-RESULT' || true
  echo "($video: $((SECONDS - started)) s with the boot)"
  if ! grep -q 'VM-APP-RESULT: PASS' "$log"; then
    tr -d '\r' <"$log" | tail -30
    status=1
    continue
  fi
  python3 - "$log" build/native/calib-solve <<'PY' || status=1
import subprocess, sys
sys.path.insert(0, "tests/e2e")
import e2e
text = open(sys.argv[1], errors="replace").read().replace("\r", "")
log = "\n".join(l[5:] for l in text.splitlines() if l.startswith("LOG: "))
store = text.split("store:\n", 1)[1].split("VM-APP-RESULT")[0].strip().splitlines()
points = [e2e.last_packet(d) for k, r, d, _ in e2e.parse_log(log) if k == "GET" and r == "ok"]
points = [p for p in points if p is not None]
out = subprocess.run([sys.argv[2]] + [str(v) for p in points for v in p], capture_output=True, text=True).stdout
want = ["x " + " ".join(l.split()[1:]) for l in out.splitlines() if l.startswith("record-x")] + \
       ["y " + " ".join(l.split()[1:]) for l in out.splitlines() if l.startswith("record-y")]
print("raw points read: %s" % points)
print("committed: %s" % store)
if len(points) != 4 or store[-2:] != want:
    print("FAIL: the committed records are not calib-solve's %s" % want)
    sys.exit(1)
print("the committed records equal calib-solve's for the raw points read")
PY
done
exit "$status"
