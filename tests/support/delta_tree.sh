# Sourced by the fixture scripts that make delta archives with the real zstd.
# delta_tree OLD NEW FROM TO TREE FILE...: TREE gets the index (orvex_delta.txt) and under
# data/ each FILE of release NEW, a zstd frame against release OLD's when OLD has it, else
# whole, in the order given.
sha() { sha256sum "$1" | cut -d' ' -f1; }
size() { stat -c %s "$1"; }
delta_tree() {
  local old="$1" new="$2" from="$3" to="$4" tree="$5" f
  shift 5
  mkdir -p "$tree"
  {
    printf 'orvex-delta 1\nfrom %s\nto %s\n' "$from" "$to"
    for f in "$@"; do
      mkdir -p "$(dirname "$tree/data/$f")"
      if [ -f "$old/$f" ]; then
        zstd -q -f --long=27 --patch-from="$old/$f" "$new/$f" -o "$tree/data/$f.zst"
        printf 'zstd 27 %s %s %s %s\n' "$(sha "$old/$f")" "$(sha "$new/$f")" "$(size "$new/$f")" "$f"
      else
        cp "$new/$f" "$tree/data/$f"
        printf 'whole - - %s %s %s\n' "$(sha "$new/$f")" "$(size "$new/$f")" "$f"
      fi
    done
  } >"$tree/orvex_delta.txt"
}
