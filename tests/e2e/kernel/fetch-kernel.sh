#!/usr/bin/env bash
# Fetches Debian's kernel from its package and keeps what the guest needs: vmlinuz and the
# modules for a virtio-scsi controller with a SCSI CD-ROM (virtio_pci and its dependencies,
# scsi_mod, virtio_scsi, cdrom, sr_mod, sg), uncompressed, with depmod's tables and a load order;
# and, in a second load order, what a guest needs to run on the host's own root filesystem
# (9p over virtio, overlayfs; tests/e2e/kernel/wine_guest.py).
# Usage: fetch-kernel.sh CACHE_DIR      prints the folder holding vmlinuz, lib/, load-order and
#                                       load-order-rootfs
# A second run with the same package finds the folder and downloads nothing.
set -euo pipefail
cache=$1
wanted=(virtio_pci scsi_mod virtio_scsi cdrom sr_mod sg)
rootfs=(9pnet_virtio 9p overlay)

package=$(apt-cache depends linux-image-amd64 2>/dev/null |
          awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
[ -n "$package" ] || { echo "fetch-kernel: linux-image-amd64 names no kernel package" >&2; exit 1; }
out="$cache/$package"
if [ -f "$out/load-order" ] && [ -f "$out/load-order-rootfs" ] && [ -f "$out/vmlinuz" ]; then
  echo "$out"
  exit 0
fi

work=$(mktemp -d "$cache/.fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && timeout 600 apt-get download -q "$package" >&2)
dpkg -x "$work"/*.deb "$work/root"
version=$(ls "$work/root/lib/modules")
tree="$work/root/lib/modules/$version"

stage="$work/out"
mkdir -p "$stage/lib/modules/$version"
cp "$work/root/boot/vmlinuz-$version" "$stage/vmlinuz"
cp "$tree"/modules.order "$tree"/modules.builtin "$tree"/modules.builtin.modinfo \
   "$stage/lib/modules/$version/"

# Each wanted module after its dependencies, each once.
declare -A seen=()
order=()
find_module() {
  find "$tree/kernel" -name "$1.ko" -o -name "$1.ko.xz" -o -name "$1.ko.zst" | head -n 1
}
visit() {
  local name=${1//-/_}
  [ -z "${seen[$name]:-}" ] || return 0
  seen[$name]=1
  local file
  file=$(find_module "$name")
  if [ -z "$file" ]; then
    # Built into this kernel: nothing to load.
    grep -q "/$name.ko" "$tree/modules.builtin" && return 0
    echo "fetch-kernel: no module $name in $package" >&2
    exit 1
  fi
  local dep
  for dep in $(modinfo -F depends "$file" | tr ',' ' '); do visit "$dep"; done
  local relative=${file#"$tree"/}
  relative=${relative%.xz}
  relative=${relative%.zst}
  mkdir -p "$stage/lib/modules/$version/$(dirname "$relative")"
  case "$file" in
    *.xz) xz -dc "$file" > "$stage/lib/modules/$version/$relative" ;;
    *.zst) zstd -qdc "$file" > "$stage/lib/modules/$version/$relative" ;;
    *) cp "$file" "$stage/lib/modules/$version/$relative" ;;
  esac
  order+=("$relative")
}
for module in "${wanted[@]}"; do visit "$module"; done
base=("${order[@]}")
order=()
for module in "${rootfs[@]}"; do visit "$module"; done
depmod -b "$stage" "$version"
printf '%s\n' "${base[@]}" > "$stage/load-order"
printf '%s\n' "${order[@]}" > "$stage/load-order-rootfs"
echo "$version" > "$stage/version"

mkdir -p "$cache"
rm -rf "$out"
mv "$stage" "$out"
echo "$out"
