#!/usr/bin/env bash
# Makes the packages that the install tests serve, with the real 7zz, before the tests run.
#   make_packages.sh OUT CORE_DLL BULK_FILES
# OUT/package.7z holds Orvex.dll (a copy of CORE_DLL) and data/level.dat.
set -euo pipefail
out="$1"
core="$2"
bulk_files="$3"
rm -rf "$out"
mkdir -p "$out/src/data"
cp "$core" "$out/src/Orvex.dll"
printf 'level data of version 1.0\n' >"$out/src/data/level.dat"
(cd "$out/src" && 7zz a -bso0 -bsp0 -m0=LZMA2 "$out/package.7z" .)

# For the many-games rounds: patch_1.N.7z (N = 1..4) brings data/level.dat to version 1.N.
for n in 1 2 3 4; do
  mkdir -p "$out/round$n/data"
  printf 'level data of version 1.%s\n' "$n" >"$out/round$n/data/level.dat"
  (cd "$out/round$n" && 7zz a -bso0 -bsp0 -m0=LZMA2 "$out/patch_1.$n.7z" .)
done

# For a game killed during a patch's copy: bulk.7z installs BULK_FILES files of 512 KiB of 'a',
# bulk_patch.7z replaces them with 'b', so the copy lasts long enough to be caught.
mkdir -p "$out/bulk/data" "$out/bulk_patch/data"
cp "$core" "$out/bulk/Orvex.dll"
head -c 524288 /dev/zero | tr '\0' a >"$out/a.bin"
head -c 524288 /dev/zero | tr '\0' b >"$out/b.bin"
# One writer per tree: a process per file costs more than the files on a slow machine.
a_files=() b_files=()
for i in $(seq -f %03g 1 "$bulk_files"); do
  a_files+=("$out/bulk/data/f$i.bin")
  b_files+=("$out/bulk_patch/data/f$i.bin")
done
tee "${a_files[@]}" <"$out/a.bin" >/dev/null
tee "${b_files[@]}" <"$out/b.bin" >/dev/null
(cd "$out/bulk" && 7zz a -bso0 -bsp0 -m0=LZMA2 -mx=1 "$out/bulk.7z" .)
(cd "$out/bulk_patch" && 7zz a -bso0 -bsp0 -m0=LZMA2 -mx=1 "$out/bulk_patch.7z" .)
