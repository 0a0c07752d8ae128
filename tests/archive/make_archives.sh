#!/usr/bin/env bash
# Makes the archives that archive_tests extracts, with the real 7zz, before the tests run.
#   make_archives.sh OUT PE_FILE
# OUT/<case>.7z is an archive; OUT/src/<tree> and OUT/expect/<tree> are what extracting the
# archives must produce. PE_FILE is an executable from the build, food for the branch filters.
set -euo pipefail

out="$1"
pe="$2"
rm -rf "$out"
mkdir -p "$out"
cd "$out"

# pack CASE TREE METHOD SWITCHES...: archives the contents of src/TREE as CASE.7z and makes
# sure 7zz really used METHOD (empty: any), so a case cannot silently test something else.
pack() {
  local name="$1" tree="$2" method="$3"
  shift 3
  (cd "src/$tree" && 7zz a -bso0 -bsp0 "$@" "$out/$name.7z" .)
  if [ -n "$method" ] && ! 7zz l -slt "$name.7z" | grep -q "^Method = .*\b$method\b"; then
    echo "$name.7z: 7zz did not use $method" >&2
    exit 1
  fi
}

blocks() { 7zz l -slt "$1.7z" | sed -n 's/^Blocks = //p'; }

# patch CASE OLD NEW: replaces the one occurrence of hex bytes OLD by NEW in the archive's
# uncompressed header (-mhc=off) and fixes the header's size and checksums.
patch() {
  python3 - "$1.7z" "$2" "$3" <<'EOF'
import struct, sys, zlib
path, old, new = sys.argv[1], bytes.fromhex(sys.argv[2]), bytes.fromhex(sys.argv[3])
data = open(path, "rb").read()
offset, size = struct.unpack_from("<QQ", data, 12)
header = data[32 + offset:32 + offset + size]
assert header.count(old) == 1, "pattern not found exactly once"
header = header.replace(old, new)
start = struct.pack("<QQI", offset, len(header), zlib.crc32(header))
data = data[:8] + struct.pack("<I", zlib.crc32(start)) + start + data[32:32 + offset] + header
open(path, "wb").write(data)
EOF
}

mkdir -p src/mixed/sub/dir src/exe src/all src/emptyfiles src/dirsonly/a/b src/dirsonly/c \
  src/backslash src/attributes src/single expect/none expect/backslash/sub
seq 1 30000 >src/mixed/readme.txt
head -c 200000 /dev/urandom >src/mixed/random.bin
: >src/mixed/empty.dat
head -c 3000 /dev/urandom >src/mixed/sub/dir/deep.bin
printf '[conf]\nversion=1\n' >src/mixed/sub/note.ini
cp "$pe" src/exe/app.exe
cp src/mixed/readme.txt src/exe/
cp -r src/mixed/. src/exe/. src/all/
: >src/emptyfiles/one
: >src/emptyfiles/two
printf 'inner\n' >'src/backslash/sub\inner.txt'
printf 'inner\n' >expect/backslash/sub/inner.txt
head -c 1000 /dev/urandom >src/single/data.bin

pack lzma mixed LZMA -m0=LZMA
pack lzma2 mixed LZMA2 -m0=LZMA2
pack ppmd mixed PPMD -m0=PPMd
pack copy mixed Copy -m0=Copy
pack delta mixed Delta -mf=Delta:4
for filter in BCJ BCJ2 ARM ARMT ARM64 PPC SPARC IA64 RISCV; do
  pack "$filter" exe "$filter" "-mf=$filter"
done
pack fastest all "" -mx=1
pack ultra all "" -mx=9
pack nonsolid mixed "" -ms=off
pack solid mixed "" -ms=on
pack twofileblocks mixed "" -ms=2f
pack smallblocks mixed "" -ms=100k
[ "$(blocks solid)" = 1 ] && [ "$(blocks nonsolid)" = 4 ] && [ "$(blocks twofileblocks)" = 2 ] &&
  [ "$(blocks smallblocks)" = 3 ] ||
  { echo "unexpected solid block counts" >&2; exit 1; }
pack emptyfiles emptyfiles ""
pack dirsonly dirsonly ""
pack backslash backslash ""
pack empty single ""
7zz d -bso0 empty.7z data.bin

# Read-only comes from the file mode; hidden has no Unix counterpart, so the attribute word
# of the file with the unique mode 0640 (0x81a0) gets the hidden bit by hand.
printf 'ro\n' >src/attributes/readonly.txt
printf 'hidden\n' >src/attributes/hidden.txt
printf 'plain\n' >src/attributes/plain.txt
chmod 0444 src/attributes/readonly.txt
chmod 0640 src/attributes/hidden.txt
chmod 0644 src/attributes/plain.txt
pack attributes attributes "" -mhc=off
patch attributes 2080a081 2280a081

# A 150-character name, for the test of the 259-character path limit.
long="$(printf 'd%.0s' {1..75})/$(printf 'f%.0s' {1..74})"
mkdir -p "src/long/${long%/*}"
printf 'long\n' >"src/long/$long"
pack longname long ""

# Archives that must fail, each with a single file entry so that nothing may appear.
head -c "$(($(stat -c %s lzma2.7z) / 2))" lzma2.7z >truncated.7z
damage() { # damage CASE OFFSET: inverts one byte of the packed data
  python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read()); d[int(sys.argv[3])] ^= 0xff
open(sys.argv[2], "wb").write(d)' "$1.7z" "damaged-$1.7z" "$2"
}
pack single-copy single Copy -m0=Copy
pack single-lzma single LZMA -m0=LZMA
damage single-copy 100
damage single-lzma 40
seq 1 100 >notanarchive.7z
pack aes single 7zAES -pSecret
pack aesheaders single "" -pSecret -mhe=on
pack bzip2 single BZip2 -m0=BZip2
pack deflate single Deflate -m0=Deflate
pack swap4 single Swap4 -mf=Swap4
# A declared size of 2^62 bytes for the copied data (1000 bytes, coded 0x83 0xe8).
pack hugesize single Copy -m0=Copy -mhc=off
patch hugesize 0c83e8 0cff0000000000000040
mkdir -p escape/inner escape/C: escape/sub
printf 'out\n' >escape/outside.txt
printf 'abs\n' >escape/absolute.txt
printf 'drive\n' >escape/C:/drive.txt
printf 'device\n' >escape/sub/NUL.txt
(cd escape/inner && 7zz a -bso0 -spf "$out/parent.7z" ../outside.txt)
7zz a -bso0 -spf "$out/absolute.7z" "$out/escape/absolute.txt"
(cd escape && 7zz a -bso0 "$out/drive.7z" C:/drive.txt && 7zz a -bso0 "$out/device.7z" sub/NUL.txt)

# Seeds for the fuzz cases: small trees with subdirectories, an empty file and an empty
# directory, with fixed bytes and times so that the cases are the same on every run. Two
# keep the headers uncompressed (-mhc=off), so that mutated fields reach the parser.
mkdir -p src/fuzz/sub/deeper src/fuzz/emptydir fuzz
printf 'alpha\n' >src/fuzz/a.txt
seq 1 200 >src/fuzz/sub/b.txt
python3 -c 'import random, sys; random.seed(7)
sys.stdout.buffer.write(bytes(random.randrange(256) for _ in range(300)))' >src/fuzz/sub/deeper/c.bin
: >src/fuzz/empty.dat
find src/fuzz -exec touch -d '2024-01-01 00:00:00' {} +
pack fuzz/solid-lzma2 fuzz LZMA2 -m0=LZMA2 -ms=on -mhc=off
pack fuzz/nonsolid-lzma fuzz LZMA -m0=LZMA -ms=off -mhc=off
pack fuzz/packed-header fuzz LZMA2 -m0=LZMA2
