#!/usr/bin/env bash
# Publishes three small releases with deltas, with the real publisher, 7zz and zstd, for the
# bridge's delta tests.
#   make_delta_tree.sh OUT CORE_DLL PUBLISHER [PUBLISHER_OPTION...]
# Every publisher run also gets the options after PUBLISHER, such as --signing-key KEY.
#
# OUT/releases/<version>, for 1.0.0, 1.0.1 and 1.0.2, each with CORE_DLL as Orvex.dll:
#   Orvex.dll           CORE_DLL, the same in every release (in no delta)
#   data/settings.ini   the same in every release (in no delta)
#   data/level.dat      3500 bytes that differ by the version text at their middle (a few
#                       bytes): a "zstd" line with window log 12
#   data/big.pak        5000 bytes that differ the same way, over the size limit of 4096
#                       bytes set here: a "whole" line
#   data/old.dat        only in 1.0.0 (dropped later: in no delta)
#   data/maps/mid.map   new in 1.0.1: "whole" in the delta from 1.0.0, absent from 1.0.1's
#   data/maps/new.map   new in 1.0.2: a "whole" line in both deltas
# OUT/tree_1.0.0 (serial 4) and OUT/tree_1.0.1 (serial 5) serve that version's package to
# everyone, without deltas: what installs a base.
# OUT/tree (serial 6, delta_bases 3, delta_size_limit 4096) serves 1.0.2: the root's url is
# the package, game 7 area 30 group 2's the patch from 1.0.1; the root, the game and the area
# each have <delta from="1.0.1"/> then <delta from="1.0.0"/> as first children, naming
#   OUT/tree/deltas/<sha256>.7z, whose orvex_delta.txt lists, sorted by path:
#     from 1.0.1: whole data/big.pak, zstd data/level.dat, whole data/maps/new.map
#     from 1.0.0: whole data/big.pak, zstd data/level.dat, whole data/maps/mid.map,
#                 whole data/maps/new.map
# OUT/deltas.txt: one line per delta, "<from> deltas/<sha256>.7z" (the path in OUT/tree).
# OUT/<tree>.json and OUT/<tree>.report are each run's config and report.
set -euo pipefail
out="$1"
core="$2"
publisher="$3"
shift 3
options=("$@")
rm -rf "$out"
rel="$out/releases"
mkdir -p "$rel"
# Fixed pseudo-random bytes, so level.dat and big.pak compress badly alone but well against
# the version before.
python3 - "$rel" "$core" <<'EOF'
import os, random, shutil, sys
rel, core = sys.argv[1:]
def write(version, name, data):
    path = os.path.join(rel, version, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
def marked(seed, size, version):
    data = random.Random(seed).randbytes(size)
    half = size // 2
    return data[:half] + version.encode() + data[half + len(version):]
for version in ("1.0.0", "1.0.1", "1.0.2"):
    os.makedirs(os.path.join(rel, version), exist_ok=True)
    shutil.copyfile(core, os.path.join(rel, version, "Orvex.dll"))
    write(version, "data/settings.ini", b"settings kept by every version\n")
    write(version, "data/level.dat", marked(1, 3500, version))
    write(version, "data/big.pak", marked(2, 5000, version))
write("1.0.0", "data/old.dat", b"only in 1.0.0\n")
for version in ("1.0.1", "1.0.2"):
    write(version, "data/maps/mid.map", b"a map new in 1.0.1\n")
write("1.0.2", "data/maps/new.map", b"a map new in 1.0.2\n")
EOF

publish() {
  printf '%s\n' "$2" >"$out/$1.json"
  python3 "$publisher" --config "$out/$1.json" --releases "$rel" --out "$out/$1" \
    ${options[@]+"${options[@]}"} >"$out/$1.report"
}
host='"base_url": "http://127.0.0.1:8008"'
publish tree_1.0.0 "{$host, \"versions\": [\"1.0.0\"], \"serial\": 4}"
publish tree_1.0.1 "{$host, \"versions\": [\"1.0.0\", \"1.0.1\"], \"serial\": 5, \"delta_bases\": 0}"
publish tree "{$host, \"versions\": [\"1.0.0\", \"1.0.1\", \"1.0.2\"], \"serial\": 6,
  \"delta_bases\": 3, \"delta_size_limit\": 4096,
  \"games\": [{\"id\": 7, \"areas\": [{\"area\": 30, \"group\": 2, \"archive\": \"patch\"}]}]}"

# The layout above, checked: a publisher that changes it fails here, not in the bridge's tests.
sed -n 's|.*<delta from="\([^"]*\)" url="http://127.0.0.1:8008/\([^"]*\)".*|\1 \2|p' \
  "$out/tree/version.xml" | head -n 2 >"$out/deltas.txt"
[ "$(grep -c '<delta ' "$out/tree/version.xml")" = 6 ]
expected_1_0_1="whole data/big.pak|zstd data/level.dat|whole data/maps/new.map"
expected_1_0_0="whole data/big.pak|zstd data/level.dat|whole data/maps/mid.map|whole data/maps/new.map"
while read -r base archive; do
  methods="$(7zz e -so "$out/tree/$archive" orvex_delta.txt | tail -n +4 |
    awk '{print $1, $6}' | paste -sd '|')"
  expected="expected_${base//./_}"
  if [ "$methods" != "${!expected}" ] || ! 7zz e -so "$out/tree/$archive" orvex_delta.txt |
    grep -q '^zstd 12 .* data/level.dat$'; then
    echo "make_delta_tree: the delta from $base holds $methods" >&2
    exit 1
  fi
done <"$out/deltas.txt"
[ "$(cut -d' ' -f1 "$out/deltas.txt" | paste -sd ' ')" = "1.0.1 1.0.0" ]
