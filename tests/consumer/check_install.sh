#!/usr/bin/env bash
# Installs one build with `cmake --install` into a scratch prefix and checks the tree a
# studio gets: the stripped DLL linked to its debug file, the version resource, the header,
# the import library and the package config; then builds tests/consumer against the prefix
# with find_package and the same toolchain, and checks what it imports from the DLL.
#   check_install.sh <build dir> <toolchain file> <version> <scratch dir> [<emulator>]
# With an emulator (wine64 for an x86_64 build) the consumer also runs and calls the DLL.
set -euo pipefail
build="$1"
toolchain="$2"
version="$3"
scratch="$4"
emulator="${5:-}"
objdump="$(basename "$toolchain" -mingw.cmake)-w64-mingw32-objdump"
prefix="$scratch/prefix"
dll="$prefix/bin/OrvexBridge.dll"
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

rm -rf "$scratch"
mkdir -p "$scratch"
cmake --install "$build" --prefix "$prefix"

for f in bin/OrvexBridge.dll bin/OrvexBridge.dll.debug include/Orvex.h lib/libOrvexBridge.dll.a \
  lib/cmake/OrvexBridge/OrvexBridgeConfig.cmake lib/cmake/OrvexBridge/OrvexBridgeTargets.cmake; do
  [ -f "$prefix/$f" ] || fail "the install tree lacks $f"
done

sections() { "$objdump" -h "$1" | awk '$1 ~ /^[0-9]+$/ {print $2}'; }
sections "$dll" | grep -qx .gnu_debuglink || fail "the DLL has no .gnu_debuglink"
! sections "$dll" | grep -q '^\.debug_' || fail "the installed DLL still holds debug sections"
grep -qa 'OrvexBridge\.dll\.debug' "$dll" ||
  fail "the debug link does not name OrvexBridge.dll.debug"
sections "$prefix/bin/OrvexBridge.dll.debug" | grep -qx .debug_info ||
  fail "OrvexBridge.dll.debug holds no .debug_info"

# The fixed part of the version resource, found by its signature 0xFEEF04BD.
resource_version="$(python3 - "$dll" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    print("none")
else:
    ms, ls = struct.unpack_from("<2I", data, at + 16)  # dwProductVersionMS, LS
    print(f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}")
PY
)"
[ "$resource_version" = "$version" ] ||
  fail "the DLL's product version is $resource_version, the project's $version"

cmake -S "$(dirname "$0")" -B "$scratch/consumer" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" >"$scratch/configure.log" ||
  { cat "$scratch/configure.log"; exit 1; }
cmake --build "$scratch/consumer" || exit 1
exe="$scratch/consumer/Consumer.exe"

# What the consumer imports from OrvexBridge.dll must be what the DLL exports, by name.
imports="$("$objdump" -p "$exe" | awk '/DLL Name:/ {take = ($3 == "OrvexBridge.dll"); next}
  take && /^\t[0-9a-f]+\t/ {print $3} take && /^$/ {take = 0}' | LC_ALL=C sort)"
exports="$("$objdump" -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/ {take = 1; next}
  take && /^\t\[/ {print $NF} take && /^$/ {take = 0}' | LC_ALL=C sort)"
[ "$(printf '%s\n' "$exports" | grep -c .)" = 23 ] || fail "the DLL does not export 23 names"
[ "$imports" = "$exports" ] || {
  fail "the consumer's imports differ from the DLL's exports"
  diff <(printf '%s\n' "$imports") <(printf '%s\n' "$exports") || true
}

if [ -n "$emulator" ]; then
  cp "$dll" "$scratch/consumer/"
  said="$(cd "$scratch/consumer" && "$emulator" Consumer.exe </dev/null | tr -d '\r')" ||
    fail "the consumer exited with a failure"
  [ "$said" = 'OrvexGetModule before OrvexInitialize -> 1' ] ||
    fail "the consumer did not get 1 from OrvexGetModule through the DLL: $said"
fi

[ "$failures" = 0 ] || exit 1
echo "install tree of $build: every check passed"
