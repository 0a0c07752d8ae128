#!/usr/bin/env bash
# Makes the two releases the installation tests lay down and serve, with the real 7zz,
# before the tests run.
#   make_releases.sh OUT CORE_DLL
# OUT/A, OUT/B       the releases' trees (Orvex.dll is a copy of CORE_DLL in both)
# OUT/package_A.7z   all of A
# OUT/patch_AB.7z    what B changes or adds to A: 12 files changed, 4 added (one in a new
#                    subdirectory), the rest of A unchanged
# OUT/delta_AB.7z   the same change as a delta archive (made with zstd)
# The tests make data\level1.dat read-only once they laid a release down.
set -euo pipefail
out="$1"
core="$2"
rm -rf "$out"
mkdir -p "$out/A/data/maps" "$out/A/lang" "$out/A/sound"
a="$out/A"
cp "$core" "$a/Orvex.dll"
# Text that names its file and release, so every file differs from every other.
fill() { printf '%s of release %s\n' "$2" "$1" >"$3"; head -c "$4" /dev/urandom >>"$3"; }
for n in 1 2 3 4 5 6; do fill A "level $n" "$a/data/level$n.dat" $((n * 3000)); done
for n in 1 2 3 4; do fill A "map $n" "$a/data/maps/m$n.bin" 9000; done
for l in en de fr; do fill A "language $l" "$a/lang/$l.txt" 700; done
for s in click music voice; do fill A "sound $s" "$a/sound/$s.ogg" 12000; done
fill A "settings" "$a/config.ini" 100
fill A "readme" "$a/readme.txt" 300
fill A "credits" "$a/credits.txt" 200

cp -a "$a" "$out/B"
b="$out/B"
change() {  # release B's file $1: text $2, $3 random bytes; also into the patch
  mkdir -p "$(dirname "$b/$1")" "$(dirname "$out/patch/$1")"
  fill B "$2" "$b/$1" "$3"
  cp "$b/$1" "$out/patch/$1"
}
for name in data/level1.dat data/level2.dat data/level3.dat data/level5.dat data/maps/m1.bin \
    data/maps/m4.bin lang/en.txt lang/fr.txt sound/music.ogg config.ini readme.txt; do
  change "$name" "$name" 5000
done
change sound/voice.ogg "voice, shorter" 10  # a file that shrinks
# Added: big enough that a disk without room for them fills up while they are copied.
change data/level7.dat "level 7" 300000
change data/maps/m5.bin "map 5" 300000
change lang/it.txt "italian" 300000
change extra/fx/spark.bin "fx" 300000
(cd "$out/patch" && 7zz a -bso0 -bsp0 -m0=LZMA2 -mx=1 "$out/patch_AB.7z" .)
(cd "$a" && 7zz a -bso0 -bsp0 -m0=LZMA2 -mx=1 "$out/package_A.7z" .)

# OUT/delta_AB.7z: the same change as a delta archive, each changed file a zstd frame against
# A's, each added one whole, with its index.
source "$(dirname "${BASH_SOURCE[0]}")/../support/delta_tree.sh"
d="$out/delta"
mapfile -t changed < <(cd "$out/patch" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
delta_tree "$a" "$b" 1.0 1.1 "$d" "${changed[@]}"
(cd "$d" && 7zz a -bso0 -bsp0 -m0=LZMA2 -mx=1 "$out/delta_AB.7z" .)
