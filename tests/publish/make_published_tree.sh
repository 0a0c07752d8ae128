#!/usr/bin/env bash
# Publishes two small releases with the real publisher and 7zz before publish_tests runs.
#   make_published_tree.sh OUT CORE_DLL PUBLISHER [PUBLISHER_OPTION...]
# OUT/releases/<version> are the releases, each with CORE_DLL as Orvex.dll. OUT/tree1 serves
# 1.0.0 to everyone; OUT/tree2 serves 1.0.1, to game 7 area 30 group 2 as the patch from
# 1.0.0, which changes one file, adds one and drops one. Their manifests carry the serials 4
# and 5. OUT/name_cases.txt is the table of
# names that the bridge and the publisher must judge alike. Every publisher run also gets the
# options after PUBLISHER, such as --signing-key KEY.
set -euo pipefail
out="$1"
core="$2"
publisher="$3"
shift 3
options=("$@")
rm -rf "$out"
mkdir -p "$out"
cp "$(dirname "$0")/name_cases.txt" "$out/"
rel="$out/releases"
mkdir -p "$rel/1.0.0/data" "$rel/1.0.1/data/maps"
for version in 1.0.0 1.0.1; do
  cp "$core" "$rel/$version/Orvex.dll"
  printf 'settings kept by every version\n' >"$rel/$version/data/settings.ini"
  printf 'level data of version %s\n' "$version" >"$rel/$version/data/level.dat"
done
printf 'only in 1.0.0\n' >"$rel/1.0.0/data/old.dat"
printf 'a map new in 1.0.1\n' >"$rel/1.0.1/data/maps/new.map"

publish() {
  printf '%s\n' "$2" >"$out/$1.json"
  python3 "$publisher" --config "$out/$1.json" --releases "$rel" --out "$out/$1" \
    ${options[@]+"${options[@]}"} >"$out/$1.report"
}
publish tree1 '{"base_url": "http://127.0.0.1:8008", "versions": ["1.0.0"], "serial": 4}'
# Without deltas: the suites that serve these trees are about the whole-file patch.
publish tree2 '{"base_url": "http://127.0.0.1:8008", "versions": ["1.0.0", "1.0.1"], "serial": 5,
  "delta_bases": 0,
  "games": [{"id": 7, "areas": [{"area": 30, "group": 2, "archive": "patch"}]}]}'
