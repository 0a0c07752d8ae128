#!/usr/bin/env bash
# Makes the patch archives that patch_tests serves, with the real 7zz, before the tests run.
#   make_patches.sh OUT
# OUT/<case>.7z is the archive of OUT/src/<case>, which holds what the patch installs.
set -euo pipefail

out="$1"
rm -rf "$out"
mkdir -p "$out"
cd "$out"

pack() { (cd "src/$1" && 7zz a -bso0 -bsp0 "$out/$1.7z" .); }

# Replaces the core module and adds a file in a new subdirectory.
mkdir -p src/addsub/sub
printf 'the new core module\n' >src/addsub/Orvex.dll
head -c 5000 /dev/urandom >src/addsub/sub/data.bin
pack addsub

# Three replaced files and one added, for the rollback cases.
mkdir -p src/three/sub
for name in a b c; do printf 'new %s\n' "$name" >"src/three/$name.bin"; done
printf 'added\n' >src/three/sub/added.bin
pack three

# A 70-character name: it fits the staging tree but not a deep installation.
long="$(printf 'd%.0s' {1..30})/$(printf 'f%.0s' {1..39})"
mkdir -p "src/long/${long%/*}"
printf 'new a\n' >src/long/a.bin
printf 'long\n' >"src/long/$long"
pack long
