# The test VM's kernel: Debian's kernel package (the one linux-image-amd64
# depends on), fetched with apt-get download and unpacked with dpkg-deb -x
# into build/vm-cache/, its modules indexed there by depmod. Nothing is
# installed on the machine, and the machine's own kernel (/boot,
# /lib/modules) is never read. Sourced by the VM scripts.
#
#   vm_kernel_fetch
#       unpacks the package once per version and sets VM_KERNEL_ROOT (the
#       unpacked tree: boot/vmlinuz-VERSION, lib/modules/VERSION) and
#       VM_KERNEL_VERSION
#   vm_kernel_show_depends MODULE...
#       modprobe's "insmod FILE" lines (and "builtin NAME" ones) for loading
#       each MODULE and what it needs first, from the unpacked tree

_vm_kernel_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# _vm_kernel_package: the kernel package linux-image-amd64 depends on, and
# the version apt would fetch ("NAME VERSION").
_vm_kernel_package() {
  local name version
  name=$(apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ <>]*\)$/\1/p' | head -1)
  [ -n "$name" ] || return 1
  version=$(apt-cache policy "$name" 2>/dev/null | sed -n 's/^ *Candidate: //p')
  [ -n "$version" ] && [ "$version" != "(none)" ] || return 1
  echo "$name $version"
}

vm_kernel_fetch() {
  local cache name version dir tmp kver found
  cache=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/vm-cache
  mkdir -p "$cache"
  if ! found=$(_vm_kernel_package); then
    # No package lists yet (a fresh machine): read them once.
    _vm_kernel_as_root env DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=300 update >/dev/null 2>&1 || true
    found=$(_vm_kernel_package) || found=
  fi
  if [ -z "$found" ]; then
    # Offline: the kernel unpacked last time, if there is one.
    dir=$(find "$cache" -maxdepth 1 -name 'linux-image-*' -type d 2>/dev/null | sort -V | tail -1)
    if [ -n "$dir" ] && [ -s "$dir/.kernel-version" ]; then
      echo "vm kernel: apt names no kernel package (linux-image-amd64); using $(basename "$dir") from build/vm-cache" >&2
    else
      echo "vm kernel: apt names no kernel package (linux-image-amd64), and build/vm-cache holds none" >&2
      return 1
    fi
  else
    read -r name version <<<"$found"
    dir=$cache/${name}_$version
    if [ ! -s "$dir/.kernel-version" ]; then
      echo "vm kernel: fetching $name $version into build/vm-cache (not installed)" >&2
      tmp=$(mktemp -d "$cache/.fetch.XXXXXX")
      # apt's download user must reach the folder.
      chmod 755 "$tmp"
      if ! (cd "$tmp" && apt-get download -q "$name=$version" >/dev/null 2>"$tmp/apt.err"); then
        cat "$tmp/apt.err" >&2
        rm -rf "$tmp"
        echo "vm kernel: apt-get download $name=$version failed" >&2
        return 1
      fi
      dpkg-deb -x "$tmp"/*.deb "$tmp/root" || { rm -rf "$tmp"; echo "vm kernel: could not unpack $name" >&2; return 1; }
      kver=$(ls "$tmp/root/lib/modules" 2>/dev/null | head -1)
      if [ -z "$kver" ] || [ ! -f "$tmp/root/boot/vmlinuz-$kver" ]; then
        rm -rf "$tmp"
        echo "vm kernel: $name holds no boot/vmlinuz and lib/modules of one version" >&2
        return 1
      fi
      # The package leaves the module index to its postinst: built here.
      depmod -b "$tmp/root" "$kver" || { rm -rf "$tmp"; echo "vm kernel: depmod failed for $kver" >&2; return 1; }
      echo "$kver" >"$tmp/root/.kernel-version"
      rm -rf "$dir"
      mv "$tmp/root" "$dir"
      rm -rf "$tmp"
      # Only the current kernel is kept (each unpacks to about 400 MB).
      find "$cache" -maxdepth 1 -name 'linux-image-*' -type d ! -path "$dir" -exec rm -rf {} +
    fi
  fi
  VM_KERNEL_ROOT=$dir
  VM_KERNEL_VERSION=$(cat "$dir/.kernel-version")
}

vm_kernel_show_depends() {
  local m
  for m in "$@"; do
    # -C /dev/null: none of the machine's modprobe configuration either.
    modprobe -C /dev/null -d "$VM_KERNEL_ROOT" -S "$VM_KERNEL_VERSION" --show-depends "$m" || return 1
  done
}
