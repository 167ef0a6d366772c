#!/usr/bin/env bash
# Builds the test VM's boot files from Debian's kernel package, unpacked
# into build/vm-cache/ (tools/vm/kernel.sh; nothing is installed):
#   OUTDIR/vmlinux       the kernel, uncompressed (QEMU enters it directly, PVH)
#   OUTDIR/initramfs.gz  busybox, the HID modules, /init and the given files
#
#   tools/vm/build-image.sh --out OUTDIR --init INIT [--add SRC[=DEST]]...
#
# SRC is copied to /bin/<name> in the image, or to DEST when given. The
# uncompressed kernel is kept beside the unpacked package, so a rerun only
# repacks the initramfs. Needs busybox-static, kmod, cpio, gzip and xz-utils
# (PACKAGES_VM in scripts/lib.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/kernel.sh"

die() { echo "build-image: $*" >&2; exit 1; }
usage="usage: tools/vm/build-image.sh --out OUTDIR --init INIT [--add SRC[=DEST]]..."

out= init=
adds=()
while [ $# -gt 0 ]; do
  case $1 in
    --out) out=$2; shift 2 ;;
    --init) init=$2; shift 2 ;;
    --add) adds+=("$2"); shift 2 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument '$1' ($usage)" ;;
  esac
done
[ -n "$out" ] && [ -n "$init" ] || die "$usage"
[ -f "$init" ] || die "no init script '$init'"

vm_kernel_fetch || die "no kernel for the VM"
kver=$VM_KERNEL_VERSION
vmlinuz=$VM_KERNEL_ROOT/boot/vmlinuz-$kver
busybox=$(command -v busybox || true)
[ -n "$busybox" ] || die "no busybox (install busybox-static)"
case $(ldd "$busybox" 2>&1 || true) in
  *'not a dynamic'* | *'statically linked'*) ;;
  *) die "$busybox is not static (install busybox-static)" ;;
esac

# vmlinuz holds the kernel as an xz stream after the boot stub; the ELF inside
# lets QEMU skip the BIOS and the kernel's own decompression.
mkdir -p "$out"
vmlinux=$VM_KERNEL_ROOT/vmlinux
if [ ! -s "$vmlinux" ]; then
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1)
  [ -n "$offset" ] || die "$vmlinuz holds no xz stream"
  # (xz stops reading after the stream, so tail is not part of a pipeline whose status counts)
  xz -dc --single-stream < <(tail -c +$((offset + 1)) "$vmlinuz") >"$vmlinux.tmp" ||
    die "could not decompress $vmlinuz"
  head -c 4 "$vmlinux.tmp" | grep -q 'ELF' || { rm -f "$vmlinux.tmp"; die "the kernel in $vmlinuz is not an ELF"; }
  mv "$vmlinux.tmp" "$vmlinux"
fi
ln -f "$vmlinux" "$out/vmlinux" 2>/dev/null || cp "$vmlinux" "$out/vmlinux"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
chmod 755 "$stage"  # the image's root: mktemp made it root's alone
mkdir -p "$stage"/{bin,dev,proc,sys,tmp,modules}
cp "$busybox" "$stage/bin/busybox"
cp "$init" "$stage/init"
chmod 755 "$stage/init"

# The HID core, uhid and hid-generic, in load order (without hid-generic
# bound to a device no hidraw node appears), and evdev for the controller's
# touch events. modules/order lists them.
n=0
: >"$stage/modules/order"
while read -r verb path _; do
  [ "$verb" = insmod ] || continue
  name=$(basename "$path")
  case $name in
    *.ko) cp "$path" "$stage/modules/$name" ;;
    *.ko.xz) name=${name%.xz}; xz -dc "$path" >"$stage/modules/$name" ;;
    *.ko.zst) name=${name%.zst}; zstd -qdc "$path" >"$stage/modules/$name" ;;
    *.ko.gz) name=${name%.gz}; gzip -dc "$path" >"$stage/modules/$name" ;;
    *) die "unexpected module file $path" ;;
  esac
  grep -qx "$name" "$stage/modules/order" || { echo "$name" >>"$stage/modules/order"; n=$((n + 1)); }
done < <(vm_kernel_show_depends uhid hid-generic evdev)
[ "$n" -ge 4 ] || die "modprobe found only $n of the HID modules for $kver"

for entry in "${adds[@]}"; do
  src=${entry%%=*}
  dest=/bin/$(basename "$src")
  [ "$entry" != "$src" ] && dest=${entry#*=}
  [ -f "$src" ] || die "no file '$src'"
  mkdir -p "$stage$(dirname "$dest")"
  cp "$src" "$stage$dest"
done

(cd "$stage" && find . | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0) | gzip -1 >"$out/initramfs.gz.tmp"
mv "$out/initramfs.gz.tmp" "$out/initramfs.gz"
echo "kernel $kver, $(du -k "$out/initramfs.gz" | cut -f1) KB initramfs" >&2
