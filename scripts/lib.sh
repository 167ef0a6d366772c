# Shared helpers of the project's scripts (sourced, not run).

# Debian packages, by what needs them; each script installs only the groups
# it uses (ensure_packages "${GROUP[@]}"...). Dependencies come with them.
# No group holds a kernel image: the test VM's kernel is unpacked from
# Debian's package into build/vm-cache/ (tools/vm/kernel.sh).
#
# A CMake build and its host tools (the Windows build writes its cursor and
# icon with Python).
PACKAGES_BUILD=(cmake make g++ python3)
# kelcalib.exe and the virtual controller's DLLs (MinGW-w64, posix threads),
# and Wine to run them.
PACKAGES_WINDOWS=(g++-mingw-w64-x86-64-posix wine wine64)
# An X display of its own, the automatic finger and its screenshots.
PACKAGES_X_DEMO=(xvfb xdotool imagemagick)
# The Linux program and kelcalib-ctl: SDL2, SDL2_ttf and the font, the X
# client libraries, libdrm and the Wayland client.
PACKAGES_LINUX=(pkg-config libsdl2-dev libsdl2-ttf-dev fonts-dejavu-core libx11-dev libxi-dev
                libxrandr-dev libdrm-dev libwayland-dev)
# The release kelcalib.exe (win32 threads) and, for --win32, the i686 one.
PACKAGES_RELEASE_WIN64=(g++-mingw-w64-x86-64-win32)
PACKAGES_RELEASE_WIN32=(g++-mingw-w64-i686-win32)
# The Debian package and its check.
PACKAGES_DEB=(dpkg-dev lintian)
# The test suites: GoogleTest, the fuzz targets (clang), xwd for the
# screenshots the scenarios read, xrandr, Xephyr, Xorg with the dummy video
# driver, and weston for the Wayland scenarios.
PACKAGES_TESTS=(googletest clang-14 libclang-rt-14-dev x11-apps x11-xserver-utils xserver-xephyr
                xserver-xorg-core xserver-xorg-video-dummy weston)
# The test VM: QEMU, busybox and what packs the image and the kernel's
# modules (apt-get download and dpkg-deb fetch the kernel itself).
PACKAGES_VM=(qemu-system-x86 busybox-static cpio gzip xz-utils kmod)
# What the VM calibrations stage into the image beside the program: Xorg's
# libinput driver, udev, and Mesa's drivers for KMS/DRM and Wayland.
PACKAGES_VM_DISPLAYS=(xserver-xorg-core xserver-xorg-video-dummy xserver-xorg-input-libinput
                      x11-xserver-utils udev xvfb xdotool weston libgl1-mesa-dri libegl-mesa0)

say() { printf '==> %s\n' "$*" >&2; }

# _as_root COMMAND...: runs COMMAND as root (through sudo unless root).
_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# ensure_packages PACKAGE...: installs those that are missing, after saying
# how many packages that brings in with their dependencies and how large
# they are (apt's own figures); quiet when everything is there. Waits up to
# five minutes for another apt or dpkg run to let go of its lock.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      case " ${missing[*]} " in *" $p "*) ;; *) missing+=("$p") ;; esac
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local apt=(env DEBIAN_FRONTEND=noninteractive LC_ALL=C apt-get -q -o DPkg::Lock::Timeout=300)
  say "updating Debian's package lists to install ${missing[*]}"
  _as_root "${apt[@]}" update >/dev/null
  # apt's figures: what the installation would bring in (it answers no).
  local plan count get disk
  plan=$(_as_root "${apt[@]}" install --assume-no --no-install-recommends "${missing[@]}" 2>&1 || true)
  count=$(sed -n 's/.* \([0-9][0-9]*\) newly installed.*/\1/p' <<<"$plan")
  get=$(sed -n 's/^Need to get \(.*\) of archives\.$/\1/p' <<<"$plan")
  disk=$(sed -n 's/^After this operation, \(.*\) of additional disk space will be used\.$/\1/p' <<<"$plan")
  if [ -z "$count" ]; then
    printf '%s\n' "$plan" | tail -5 >&2
    echo "apt cannot install ${missing[*]}" >&2
    return 1
  fi
  say "installing ${#missing[@]} Debian packages (${missing[*]}): $count packages with their dependencies, ${get:-0 B} to download, ${disk:-0 B} on disk"
  _as_root "${apt[@]}" install -y --no-install-recommends "${missing[@]}" >/dev/null
}

# Seconds since the script started, for progress lines.
elapsed() { printf '%ds' "$SECONDS"; }

# build_folder_check PRESET...: a build folder that CMake configured from
# another source folder (a copied or moved checkout) cannot be configured
# again from here: it is removed, with one line that says so, and the preset
# builds afresh.
build_folder_check() {
  local preset cache home here
  here=$(pwd -P)
  for preset in "$@"; do
    cache=build/$preset/CMakeCache.txt
    [ -f "$cache" ] || continue
    home=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$cache")
    [ -n "$home" ] && [ "$(cd "$home" 2>/dev/null && pwd -P)" = "$here" ] && continue
    say "build/$preset was configured from ${home:-another folder}, not from here: removing it to build afresh"
    rm -rf "build/$preset"
  done
}

# build_with_progress LABEL COMMAND...: runs a build quietly, with one line
# every 20 s that says it is still going (the last line the build printed,
# and the time so far); prints the build's output only when it fails.
build_with_progress() {
  local label=$1 log pid status=0 started=$SECONDS next step
  shift
  log=$(mktemp /tmp/kelcalib-build.XXXXXX)
  "$@" >"$log" 2>&1 &
  pid=$!
  next=$((SECONDS + 20))
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    if [ "$SECONDS" -ge "$next" ] && kill -0 "$pid" 2>/dev/null; then
      step=$(grep -o '\[ *[0-9]*%\].*' "$log" | tail -1 | cut -c1-70)
      say "$label: still building, $((SECONDS - started)) s so far${step:+ ($step)}"
      next=$((SECONDS + 20))
    fi
  done
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || { cat "$log" >&2; say "$label: the build failed"; }
  rm -f "$log"
  return "$status"
}
