#!/usr/bin/env bash
# Makes two releases, their whole-file patch and delta archives between them (good ones and
# spoiled ones), with the real zstd and 7zz, before the delta tests run.
#   make_deltas.sh OUT CORE_DLL
# OUT/1.0.0, OUT/1.0.2   the releases' trees (Orvex.dll is a copy of CORE_DLL in both): 1.0.2
#                        changes three files (one name with a space), adds one, keeps the rest
# OUT/patch.7z           the whole-file patch from 1.0.0 to 1.0.2
# OUT/<case>.7z          a delta archive from 1.0.0 to 1.0.2; <case>.sha256 its digest
set -euo pipefail
out="$1"
core="$2"
rm -rf "$out"
old="$out/1.0.0"
new="$out/1.0.2"
mkdir -p "$old/data"
cp "$core" "$old/Orvex.dll"
# big.bin needs a window of 4 MiB: far more than a forged index may announce.
head -c 3000000 /dev/urandom >"$old/data/big.bin"
head -c 200000 /dev/urandom >"$old/data/level.dat"
head -c 50000 /dev/urandom >"$old/data/my map.bin"
printf 'readme of 1.0.0\n' >"$old/readme.txt"
cp -a "$old" "$new"
edit() { # release 1.0.2's $1: a text inserted at byte $2 of 1.0.0's
  { head -c "$2" "$old/$1"; printf 'changed in 1.0.2'; tail -c +"$(($2 + 1))" "$old/$1"; } >"$new/$1"
}
edit data/big.bin 1500000
edit data/level.dat 1000
edit "data/my map.bin" 20000
head -c 5000 /dev/urandom >"$new/data/new.dat"
changed=(data/big.bin data/level.dat "data/my map.bin")

mkdir -p "$out/patch/data"
for f in "${changed[@]}" data/new.dat; do cp "$new/$f" "$out/patch/$f"; done
(cd "$out/patch" && 7zz a -bso0 -bsp0 -m0=LZMA2 -mx=1 "$out/patch.7z" .)

source "$(dirname "${BASH_SOURCE[0]}")/../support/delta_tree.sh"
good="$out/trees/good"
delta_tree "$old" "$new" 1.0.0 1.0.2 "$good" "${changed[@]}" data/new.dat

variant() { # a copy of the good tree named $1
  cp -a "$good" "$out/trees/$1"
  echo "$out/trees/$1"
}
index_sub() { sed -i "$2" "$1/orvex_delta.txt"; }
# Bytes flipped inside a frame.
t="$(variant corrupt)"
printf '\xde\xad\xbe\xef' | dd of="$t/data/data/level.dat.zst" bs=1 seek=20 conv=notrunc status=none
# A frame whose header asks for a 256 MiB window, announced as such: over the decoder's cap.
t="$(variant over_cap)"
zstd -q -f --no-content-size --long=27 --patch-from="$old/data/big.bin" "$new/data/big.bin" \
  -o "$t/data/data/big.bin.zst"
# Magic (4 bytes), descriptor, then the window byte: exponent 18, 2^(10 + 18).
printf '\x90' | dd of="$t/data/data/big.bin.zst" bs=1 seek=5 conv=notrunc status=none
index_sub "$t" 's/^zstd 27 \(.* data\/big.bin\)$/zstd 28 \1/'
# An index announcing less window than big.bin's frame has.
t="$(variant low_window)"
index_sub "$t" 's/^zstd 27 \(.* data\/big.bin\)$/zstd 20 \1/'
# A file the index does not name.
t="$(variant extra_entry)"
printf 'stray\n' >"$t/data/data/stray.txt"
# A path that climbs out and back in, its file stored where it leads.
t="$(variant dot_dot)"
cp "$old/readme.txt" "$t/data/readme.txt"
index_sub "$t" "3a whole - - $(sha "$old/readme.txt") $(size "$old/readme.txt") data/../readme.txt"
# A result size other than the frame records.
t="$(variant wrong_size)"
level="$(size "$new/data/level.dat")"
index_sub "$t" "s/ $level data\/level.dat\$/ $((level + 1)) data\/level.dat/"
grep -q " $((level + 1)) data/level.dat\$" "$t/orvex_delta.txt"
# An index for another installed version.
t="$(variant wrong_from)"
index_sub "$t" 's/^from 1.0.0$/from 1.0.1/'

for tree in "$out"/trees/*; do
  name="$(basename "$tree")"
  (cd "$tree" && 7zz a -bso0 -bsp0 -m0=LZMA2 -mx=1 "$out/$name.7z" .)
  sha "$out/$name.7z" >"$out/$name.sha256"
done
