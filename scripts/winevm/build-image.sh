#!/usr/bin/env bash
# Makes the disk image of the test machine: Debian with 32-bit Wine, Xvfb and a kernel that runs
# 32-bit programs, for hosts whose own kernel does not (see run.sh). Made once, in about five
# minutes, then reused until this folder's recipe changes. Prints the image folder.
#
# ZYN_WINEVM_DIR: where images live (default /var/cache/zynid-winevm). Needs root (debootstrap).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
base="${ZYN_WINEVM_DIR:-/var/cache/zynid-winevm}"
recipe="$(cat "$here/build-image.sh" "$here/guest-init" "$here/packages.txt" | sha256sum | cut -c1-16)"
image="$base/$recipe"

if [ -f "$image/ready" ]; then
  echo "$image"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "build-image: must run as root (debootstrap, chroot)" >&2
  exit 1
fi

mkdir -p "$base"
exec 9>"$base/.lock"
flock 9
if [ -f "$image/ready" ]; then
  echo "$image"
  exit 0
fi

# Older recipes' images go: each is several gigabytes.
find "$base" -mindepth 1 -maxdepth 1 -type d ! -name "$recipe" -exec rm -rf {} +

work="$image.tmp"
root="$work/root"
rm -rf "$work"
mkdir -p "$work"
log="$work/build.log"
echo "build-image: making the test machine image in $image (log: $log)" >&2

cleanup() {
  for m in proc sys dev; do mountpoint -q "$root/$m" && umount -l "$root/$m"; done
  return 0
}
trap cleanup EXIT

mirror=http://deb.debian.org/debian
debootstrap --variant=minbase bookworm "$root" "$mirror" >>"$log" 2>&1
cat >"$root/etc/apt/sources.list" <<SRC
deb $mirror bookworm main
deb $mirror bookworm-updates main
SRC
# The initramfs must reach a virtio disk; "most" also keeps it independent of this host.
mkdir -p "$root/etc/initramfs-tools/conf.d"
echo "MODULES=most" >"$root/etc/initramfs-tools/conf.d/zvm"
mount --bind /proc "$root/proc"
mount --bind /sys "$root/sys"
mount --bind /dev "$root/dev"
mapfile -t packages < <(grep -v '^#' "$here/packages.txt" | grep .)
chroot "$root" sh -c "dpkg --add-architecture i386 && apt-get update -qq &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ${packages[*]} &&
  apt-get clean" >>"$log" 2>&1
cleanup
install -m 0755 "$here/guest-init" "$root/sbin/zvm-init"

kernel="$(ls "$root"/boot/vmlinuz-* | sort -V | tail -n 1)"
initrd="$(ls "$root"/boot/initrd.img-* | sort -V | tail -n 1)"
cp "$kernel" "$work/vmlinuz"
cp "$initrd" "$work/initrd.img"
mkfs.ext4 -q -F -L zvmroot -d "$root" "$work/disk.img" 6G >>"$log" 2>&1
rm -rf "$root"
touch "$work/ready"
mv "$work" "$image"
echo "$image"
