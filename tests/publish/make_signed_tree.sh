#!/usr/bin/env bash
# The signed trees that signed_tests serves to the bridge built with the test key.
#   make_signed_tree.sh OUT CORE_DLL PUBLISHER KEY KEY_B KEY_C
# OUT/releases, OUT/tree1 (serial 4) and OUT/tree2 (serial 5) as make_published_tree.sh makes
# them, signed with KEY. OUT/tree_off is an older signed manifest (serial 3) that keeps the
# core off, for replays. OUT/tree1_b and OUT/tree1_c are tree1 signed with KEY_B and KEY_C.
# OUT/tree2_nosha is tree2 with a version.xml that names no sha256, signed all the same;
# OUT/tree2_areaurl has the sha256 only on the levels above the area that sets the url.
# OUT/evil/package.7z is a well-formed archive of other files, and OUT/evil/file other bytes,
# for a server that swaps a payload.
set -euo pipefail
out="$1"
core="$2"
publisher="$3"
key="$4"
key_b="$5"
key_c="$6"
bash "$(dirname "$0")/make_published_tree.sh" "$out" "$core" "$publisher" --signing-key "$key"

printf '{"base_url": "http://127.0.0.1:8008", "versions": ["1.0.0"], "start": false, "serial": 3}\n' \
  >"$out/tree_off.json"
python3 "$publisher" --config "$out/tree_off.json" --releases "$out/releases" --out "$out/tree_off" \
  --signing-key "$key" >"$out/tree_off.report"
grep -q 'start="0"' "$out/tree_off/version.xml"

for k in b c; do
  signer="key_$k"
  cp -r "$out/tree1" "$out/tree1_$k"
  python3 "$publisher" sign --signing-key "${!signer}" "$out/tree1_$k/g_file_check_list.xml" \
    "$out/tree1_$k/version.xml" >/dev/null
done

cp -r "$out/tree2" "$out/tree2_nosha"
sed -E 's/ sha256="[0-9a-f]{64}"//' "$out/tree2/version.xml" >"$out/tree2_nosha/version.xml"
if grep -q ' sha256=' "$out/tree2_nosha/version.xml"; then
  echo "make_signed_tree: sha256 left in the manifest" >&2
  exit 1
fi
python3 "$publisher" sign --signing-key "$key" "$out/tree2_nosha/version.xml" >/dev/null

# OUT/tree2_areaurl: the area's url without its own sha256 (the levels above keep theirs).
cp -r "$out/tree2" "$out/tree2_areaurl"
sed -E '/<area /s/ sha256="[0-9a-f]{64}"//' "$out/tree2/version.xml" >"$out/tree2_areaurl/version.xml"
if grep '<area ' "$out/tree2_areaurl/version.xml" | grep -q sha256; then
  echo "make_signed_tree: sha256 left in the area" >&2
  exit 1
fi
python3 "$publisher" sign --signing-key "$key" "$out/tree2_areaurl/version.xml" >/dev/null

mkdir -p "$out/evil/src/data"
printf 'not the studio'"'"'s core\n' >"$out/evil/src/Orvex.dll"
printf 'level data of nobody\n' >"$out/evil/src/data/level.dat"
(cd "$out/evil/src" && 7zz a -bso0 -bsp0 "$out/evil/package.7z" .)
printf 'level data of nobody\n' >"$out/evil/file"
