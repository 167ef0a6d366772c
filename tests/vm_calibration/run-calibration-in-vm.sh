#!/usr/bin/env bash
# One whole calibration of the Linux kelcalib inside the test VM, against the
# virtual controller made a real kernel HID device by vc-uhid: the program's
# hidraw link meets the kernel's own driver. The VM runs Xvfb and xdotool
# (SDL's X11 driver); the image is the VM suite's (tools/vm/build-image.sh:
# kernel, HID modules, busybox) plus a second archive holding the X server,
# the program, their libraries, the keyboard maps and the font.
#
#   tests/vm_calibration/run-calibration-in-vm.sh
#
# Prints the controller's events, the committed store and a result line;
# checks the records against calib-solve. Exits 0 on PASS.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
vm_tools=${VM_TOOLS:-tools/vm}
work=$(mktemp -d /tmp/kelcalib-vm-calibration.XXXXXX)
trap 'rm -rf "$work"' EXIT

cmake --preset release-linux >/dev/null
cmake --build --preset release-linux --target kelcalib >/dev/null
cmake --preset native >/dev/null
cmake --build --preset native --target calib-solve >/dev/null
if [ -z "${VC_UHID:-}" ]; then
  cmake --build --preset native --target vc-uhid >/dev/null
  VC_UHID=$(find build/native -name vc-uhid -type f -perm -u+x | head -1)
fi

# Everything the guest runs, with every library it loads: ldd's list, and
# the X libraries SDL opens at run time.
lib=/usr/lib/x86_64-linux-gnu
programs="/usr/bin/Xvfb /usr/bin/xkbcomp /usr/bin/xdotool build/release-linux/app/kelcalib $VC_UHID"
opened="$lib/libX11.so.6 $lib/libXext.so.6 $lib/libXcursor.so.1 $lib/libXi.so.6 $lib/libXfixes.so.3
        $lib/libXrandr.so.2 $lib/libXss.so.1 $lib/libxkbcommon.so.0 $lib/libXrender.so.1 $lib/libX11-xcb.so.1"
extra=$work/extra
mkdir -p "$extra/usr/bin" "$extra/lib64" "$extra/usr/share/X11" "$extra/usr/share/fonts/truetype/dejavu"
for f in $programs; do cp "$f" "$extra/usr/bin/"; done
for f in $( (for f in $programs $opened; do echo "$f"; ldd "$f" | awk '/=>/ {print $3}'; done) | grep '^/' | grep -v '/bin/' | sort -u); do
  mkdir -p "$extra$(dirname "$f")"
  cp -L "$f" "$extra$f"
done
cp -L /lib64/ld-linux-x86-64.so.2 "$extra/lib64/"
cp -r /usr/share/X11/xkb "$extra/usr/share/X11/"
cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$extra/usr/share/fonts/truetype/dejavu/"

bash "$vm_tools/build-image.sh" --out "$work/img" --init tests/vm_calibration/init.sh
(cd "$extra" && find . | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0) | gzip -1 >"$work/extra.gz"
cat "$work/img/initramfs.gz" "$work/extra.gz" >"$work/all.gz"

# QEMU with TCG, ended by its process id on every path.
qemu=
trap '[ -z "$qemu" ] || kill "$qemu" 2>/dev/null; rm -rf "$work"' EXIT
timeout 300 qemu-system-x86_64 -accel tcg -M pc -m 768 -smp 1 -kernel "$work/img/vmlinux" \
  -initrd "$work/all.gz" -append 'console=ttyS0 quiet panic=-1 reboot=t' -nographic -nodefaults \
  -serial stdio -no-reboot </dev/null >"$work/console.log" 2>&1 &
qemu=$!
wait "$qemu" || true
qemu=
sed -n '/^ready/,/VM-APP-RESULT/p' "$work/console.log" | tr -d '\r'

grep -q 'VM-APP-RESULT: PASS' "$work/console.log" || exit 1
# The mirrored panel touched exactly at the targets of 1024 x 768.
want=$(build/native/calib-solve 52479 13056 13120 52394 13120 13056 52479 52394 |
       awk '$1 == "record-x" {x = $2" "$3" "$4" "$5} $1 == "record-y" {y = $2" "$3" "$4" "$5} END {print "x " x; print "y " y}')
got=$(sed -n '/^store:/,/^raw reads:/p' "$work/console.log" | grep -E '^[xy] ' | tr -d '\r')
[ "$got" = "$want" ] || { echo "committed records differ from calib-solve's:"; echo "$got"; echo "want:"; echo "$want"; exit 1; }
echo "committed records equal calib-solve's for the raw points read"
