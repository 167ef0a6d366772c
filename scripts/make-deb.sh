#!/usr/bin/env bash
# Packs a Debian package of the Linux program, reproducibly: fixed owners,
# modes and times (the last commit's), so building twice gives the same bytes.
#
#   scripts/make-deb.sh PROGRAM SUPPORT-TOOL UDEV-RULE VENDOR-ID VERSION OUT-DIR
#
# SUPPORT-TOOL is the dynamically linked kelcalib-ctl. The package's
# Maintainer field and its changelog's signature come from KELCALIB_MAINTAINER
# ("Name <address>"; default below). Dependencies and their lowest versions
# come from dpkg-shlibdeps.
set -euo pipefail
[ $# -eq 6 ] || { echo "usage: make-deb.sh PROGRAM SUPPORT-TOOL UDEV-RULE VENDOR-ID VERSION OUT-DIR" >&2; exit 2; }
program=$1 tool=$2 rule=$3 vid=$4 version=$5 outdir=$6
cd "$(dirname "$0")/.."

maintainer=${KELCALIB_MAINTAINER:-KelCalib developers <kelcalib@example.org>}
if ! [[ $maintainer =~ ^[^\<\>@]*[^\<\>@\ ]\ \<[^\<\>@\ ]+@[^\<\>@\ .]+(\.[^\<\>@\ .]+)+\>$ ]]; then
  echo "make-deb: KELCALIB_MAINTAINER must read 'Name <user@host.domain>', not '$maintainer'" >&2
  exit 2
fi
vid_hex8=$(printf '%08X' "$vid") || { echo "make-deb: '$vid' is no vendor ID" >&2; exit 2; }

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
export TZ=UTC LC_ALL=C
umask 022
arch=$(dpkg --print-architecture)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# dpkg-shlibdeps expects the package's files under debian/<package>.
root=$work/debian/kelcalib

install -D -m 0755 "$program" "$root/usr/bin/kelcalib"
install -D -m 0755 "$tool" "$root/usr/bin/kelcalib-ctl"
strip --strip-all --remove-section=.comment --remove-section=.note "$root/usr/bin/kelcalib" \
  "$root/usr/bin/kelcalib-ctl"
install -D -m 0644 "$rule" "$root/lib/udev/rules.d/70-kelcalib.rules"
install -D -m 0644 res/kelcalib.desktop "$root/usr/share/applications/kelcalib.desktop"
install -D -m 0644 res/kelcalib.svg "$root/usr/share/icons/hicolor/scalable/apps/kelcalib.svg"
mkdir -p "$root/usr/share/man/man1" "$root/usr/share/doc/kelcalib" "$root/usr/share/metainfo"
for page in kelcalib kelcalib-ctl; do
  sed -e "s/@KELCALIB_VERSION@/$version/" -e "s/@KELCALIB_VENDOR_ID@/$vid/" "res/$page.1" |
    gzip -9n >"$root/usr/share/man/man1/$page.1.gz"
done
sed -e "s/@KELCALIB_VENDOR_ID@/$vid/" -e "s/@KELCALIB_VENDOR_HEX8@/$vid_hex8/g" \
  res/kelcalib.metainfo.xml.in >"$root/usr/share/metainfo/kelcalib.metainfo.xml"
{
  cat <<TEXT
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: kelcalib

Files: *
Copyright: 2026 KelCalib developers
License: Expat

License: Expat
TEXT
  # The licence text of LICENSE after its copyright line, as the format's
  # indented paragraphs ("." for an empty line).
  sed -n '/^Copyright/,$p' LICENSE | tail -n +3 | sed -e 's/^$/./' -e 's/^/ /'
} >"$root/usr/share/doc/kelcalib/copyright"
date=$(date -u -d "@$SOURCE_DATE_EPOCH" -R)
printf 'kelcalib (%s) unstable; urgency=medium\n\n  * Release %s for Linux: the calibration screen on SDL2, the controller\n    through hidraw, the udev rule, the support tool kelcalib-ctl.\n\n -- %s  %s\n' \
  "$version" "$version" "$maintainer" "$date" | gzip -9n >"$root/usr/share/doc/kelcalib/changelog.gz"

# Dependencies: each shared library's package with the lowest version that
# provides the symbols the programs use, and the font the texts are drawn in.
# (It finds the package's root by its DEBIAN folder.)
mkdir -p "$root/DEBIAN"
printf 'Source: kelcalib\n\nPackage: kelcalib\nArchitecture: any\n' >"$work/debian/control"
shlibs=$(cd "$work" && dpkg-shlibdeps -O debian/kelcalib/usr/bin/kelcalib \
  debian/kelcalib/usr/bin/kelcalib-ctl) || { echo "make-deb: dpkg-shlibdeps failed" >&2; exit 1; }
depends=${shlibs#shlibs:Depends=}
[ -n "$depends" ] && [ "$depends" != "$shlibs" ] ||
  { echo "make-deb: dpkg-shlibdeps gave no dependencies ('$shlibs')" >&2; exit 1; }
depends="$depends, fonts-dejavu-core"

cat >"$root/DEBIAN/control" <<TEXT
Package: kelcalib
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends
Section: utils
Priority: optional
Description: four-point calibration kept in USB HID touch controllers
 Calibrates a touch controller of vendor ID $vid on the display you name,
 under X11, Wayland or straight on the kernel's display, and writes the
 calibration into the controller itself. Includes the udev rule that lets
 the user at the seat reach the controller, and the support tool
 kelcalib-ctl, which lists, watches and resets the controllers.
TEXT
# The udev rule takes effect at installation and is gone at removal without
# a reboot: both scripts reload the rules and re-apply them to hidraw nodes.
for script in postinst postrm; do
  case $script in
    postinst) when='[ "$1" = configure ]' ;;
    postrm) when='[ "$1" = remove ] || [ "$1" = purge ]' ;;
  esac
  cat >"$root/DEBIAN/$script" <<TEXT
#!/bin/sh
set -e
if { $when; } && command -v udevadm >/dev/null 2>&1; then
  udevadm control --reload-rules >/dev/null 2>&1 || true
  udevadm trigger --subsystem-match=hidraw >/dev/null 2>&1 || true
fi
TEXT
  chmod 0755 "$root/DEBIAN/$script"
done
(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
  xargs -0 md5sum >DEBIAN/md5sums)
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
find "$root" -type d -exec chmod 0755 {} +
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
mkdir -p "$outdir"
deb=$outdir/kelcalib_${version}_$arch.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
