#!/usr/bin/env bash
# Makes the packages that the install tests serve, with the real 7zz, before the tests run.
#   make_packages.sh OUT CORE_DLL
# OUT/package.7z holds Orvex.dll (a copy of CORE_DLL) and data/level.dat.
set -euo pipefail
out="$1"
core="$2"
rm -rf "$out"
mkdir -p "$out/src/data"
cp "$core" "$out/src/Orvex.dll"
printf 'level data of version 1.0\n' >"$out/src/data/level.dat"
(cd "$out/src" && 7zz a -bso0 -bsp0 -m0=LZMA2 "$out/package.7z" .)
