#!/usr/bin/env bash
# Packs a Debian package of the Linux program, reproducibly: fixed owners,
# modes and times (the last commit's), so building twice gives the same bytes.
#
#   scripts/make-deb.sh PROGRAM SUPPORT-TOOL UDEV-RULE VENDOR-ID VERSION OUT-DIR
set -euo pipefail
[ $# -eq 6 ] || { echo "usage: make-deb.sh PROGRAM SUPPORT-TOOL UDEV-RULE VENDOR-ID VERSION OUT-DIR" >&2; exit 2; }
program=$1 tool=$2 rule=$3 vid=$4 version=$5 outdir=$6
cd "$(dirname "$0")/.."

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
export TZ=UTC LC_ALL=C
umask 022
arch=$(dpkg --print-architecture)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

install -D -m 0755 "$program" "$root/usr/bin/kelcalib"
install -D -m 0755 "$tool" "$root/usr/bin/kelcalib-ctl"
strip --strip-all --remove-section=.comment --remove-section=.note "$root/usr/bin/kelcalib" \
  "$root/usr/bin/kelcalib-ctl"
install -D -m 0644 "$rule" "$root/lib/udev/rules.d/70-kelcalib.rules"
mkdir -p "$root/usr/share/man/man1" "$root/usr/share/doc/kelcalib"
sed -e "s/@KELCALIB_VERSION@/$version/" -e "s/@KELCALIB_VENDOR_ID@/$vid/" res/kelcalib.1 |
  gzip -9n >"$root/usr/share/man/man1/kelcalib.1.gz"
date=$(date -u -d "@$SOURCE_DATE_EPOCH" -R)
cat >"$root/usr/share/doc/kelcalib/copyright" <<TEXT
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: kelcalib

Files: *
Copyright: KelCalib developers
License: none-granted
 No licence has been granted for this software yet; all rights are reserved
 by its authors.
TEXT
printf 'kelcalib (%s) unstable; urgency=medium\n\n  * Release %s for Linux: the calibration screen on SDL2, the controller\n    through hidraw, the udev rule.\n\n -- KelCalib developers <kelcalib@localhost>  %s\n' \
  "$version" "$version" "$date" | gzip -9n >"$root/usr/share/doc/kelcalib/changelog.Debian.gz"

# Dependencies: the package of each shared library the programs need, and
# the font the calibration draws its texts with.
depends=()
for lib in $(objdump -p "$root/usr/bin/kelcalib" "$root/usr/bin/kelcalib-ctl" |
             awk '$1 == "NEEDED" {print $2}' | sort -u); do
  path=$(ldconfig -p | awk -v l="$lib" '$1 == l {print $NF; exit}')
  pkg=$(dpkg -S "$(readlink -f "${path:-/nonexistent}")" 2>/dev/null | head -1 | cut -d: -f1 || true)
  [ -n "$pkg" ] || pkg=$(dpkg -S "$path" 2>/dev/null | head -1 | cut -d: -f1 || true)
  [ -n "$pkg" ] || { echo "make-deb: no Debian package provides $lib" >&2; exit 1; }
  depends+=("$pkg")
done
depends+=(fonts-dejavu-core)
depends_line=$(printf '%s\n' "${depends[@]}" | sort -u | paste -sd, | sed 's/,/, /g')

mkdir -p "$root/DEBIAN"
cat >"$root/DEBIAN/control" <<TEXT
Package: kelcalib
Version: $version
Architecture: $arch
Maintainer: KelCalib developers <kelcalib@localhost>
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends_line
Section: utils
Priority: optional
Description: four-point calibration kept in USB HID touch controllers
 Calibrates a touch controller of vendor ID $vid on the display you name,
 under X11, Wayland or straight on the kernel's display, and writes the
 calibration into the controller itself. Includes the udev rule that lets
 the user at the seat reach the controller.
TEXT
cat >"$root/DEBIAN/postinst" <<'TEXT'
#!/bin/sh
set -e
if [ "$1" = configure ] && command -v udevadm >/dev/null 2>&1; then
  udevadm control --reload-rules >/dev/null 2>&1 || true
  udevadm trigger --subsystem-match=hidraw >/dev/null 2>&1 || true
fi
TEXT
chmod 0755 "$root/DEBIAN/postinst"
(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
  xargs -0 md5sum >DEBIAN/md5sums)
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
find "$root" -type d -exec chmod 0755 {} +
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
mkdir -p "$outdir"
deb=$outdir/kelcalib_${version}_$arch.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
