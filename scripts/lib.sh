# Shared helpers of the project's scripts (sourced, not run).

# Debian packages the build, the tests and the demo need.
KELCALIB_PACKAGES=(
  cmake make g++ googletest libbenchmark-dev
  clang-14 libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64 xvfb xdotool x11-apps x11-utils imagemagick
  zip unzip python3
  qemu-system-x86 linux-image-amd64 busybox-static cpio gzip xz-utils kmod
  libsdl2-dev libsdl2-ttf-dev fonts-dejavu-core libx11-dev
  xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
  xserver-xorg-input-libinput udev libwayland-dev weston libgl1-mesa-dri libegl-mesa0
  dpkg-dev lintian
  libxi-dev libxrandr-dev libdrm-dev xserver-xephyr
)

say() { printf '==> %s\n' "$*" >&2; }

# Installs the packages that are missing; quiet when everything is there.
ensure_packages() {
  local missing=() p
  for p in "${KELCALIB_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing ${#missing[@]} Debian packages: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q >/dev/null
  # INITRD=No: the kernel is only booted by the VM suite with an initramfs of
  # its own, so the kernel package need not build one of the host's.
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive INITRD=No \
    apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
}

# Seconds since the script started, for progress lines.
elapsed() { printf '%ds' "$SECONDS"; }
