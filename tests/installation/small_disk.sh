#!/usr/bin/env bash
# Mounts (or unmounts) a small tmpfs for the disk-full tests: wine processes cannot run
# mount and wait for it, so CTest runs this before and after them.
#   small_disk.sh mount|unmount DIR
# After a mount DIR/mounted exists; without root, or when the mount is refused, it does not
# and the tests skip. Unmounting is safe to repeat.
set -uo pipefail
what="$1"
dir="$2"
while mountpoint -q "$dir"; do umount "$dir" || umount -l "$dir" || exit 1; done
rm -rf "$dir"
[ "$what" = mount ] || exit 0
mkdir -p "$dir"
if [ "$(id -u)" != 0 ] || ! mount -t tmpfs -o size=16m,mode=0777 tmpfs "$dir" 2>/dev/null; then
  echo "small disk not mounted: the disk-full tests skip"
  exit 0
fi
touch "$dir/mounted"
