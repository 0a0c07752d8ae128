#!/usr/bin/env bash
# Benchmarks: each program of ours runs beside a reference tool on the same input in the
# same run, and every measurement becomes one row of the table printed at the end.
#   bench/run.sh <build-out-dir>
# The build-out dir holds the x86_64 benchmark programs. The caller sets up WINEPREFIX,
# WINEDEBUG and the wineserver; WINE_LOADER picks the wine loader. BENCH_REPEATS sets how
# many timed runs each side gets (best one counts, default 3).
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 <build-out-dir>" >&2
  exit 2
fi
OUT="$(cd "$1" 2>/dev/null && pwd)" || {
  echo "bench: no such directory: $1" >&2
  exit 2
}
WINE="${WINE_LOADER:-/usr/lib/wine/wine64}"
REPEATS="${BENCH_REPEATS:-3}"
SCRATCH="$(mktemp -d)"
trap 'rm -rf "$SCRATCH"' EXIT

ROWS=()
FAILED=0

# row <measured> <this project> <reference> <ratio> <goal>
row() { ROWS+=("$1|$2|$3|$4|$5"); }

print_table() {
  printf '%s\n' "measured|this project|reference|ratio|goal" "${ROWS[@]}" | awk -F'|' '
    function dashes(n, t) { t = ""; while (n-- > 0) t = t "-"; return t }
    { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) } }
    END {
      for (r = 1; r <= NR; r++) {
        line = ""
        for (i = 1; i < NF; i++) line = line sprintf("%-*s | ", w[i], cell[r, i])
        print line cell[r, NF]
        if (r > 1) continue
        line = ""
        for (i = 1; i < NF; i++) line = line dashes(w[i]) "-|-"
        print line dashes(w[NF])
      }
    }'
}

# Prints the best wall time in seconds of REPEATS runs of the command.
best_seconds() {
  local best="" start end
  for _ in $(seq "$REPEATS"); do
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN {
      t = e - s; if (b == "" || t < b) b = t; printf "%.6f", b }')
  done
  echo "$best"
}

mb_per_s() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.0f", n / s / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
at_least() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a >= b) }'; }

# Windows name of a Unix path through wine's Z: drive.
wine_path() { printf 'Z:%s' "${1//\//\\}"; }

bench_md5() {
  local file="$SCRATCH/random.bin" bytes=268435456 goal=0.90
  head -c "$bytes" /dev/urandom >"$file"
  cat "$file" >/dev/null # both sides read from the page cache

  local ref_digest ref_seconds line ours_digest ours_seconds
  ref_digest=$(md5sum "$file" | cut -d' ' -f1)
  ref_seconds=$(best_seconds md5sum "$file")
  # The program times each call inside itself, so wine's start-up is not in its figure;
  # md5sum's figure does include its own (much smaller) process start.
  line=$("$WINE" "$OUT/Md5Bench.exe" "$(wine_path "$file")" "$REPEATS" </dev/null | tr -d '\r')
  echo "$line"
  ours_seconds=$(sed -n 's/.* seconds=\([0-9.]*\).*/\1/p' <<<"$line")
  ours_digest=$(sed -n 's/.* digest=\([0-9a-f]*\).*/\1/p' <<<"$line")
  HOST=$(sed -n 's/.* host=\([^ ]*\).*/\1/p' <<<"$line")
  if [ "$ours_digest" != "$ref_digest" ]; then
    echo "bench: MD5 digests differ: ours $ours_digest, md5sum $ref_digest" >&2
    FAILED=1
  fi

  local ours ref r
  ours=$(mb_per_s "$bytes" "$ours_seconds")
  ref=$(mb_per_s "$bytes" "$ref_seconds")
  r=$(ratio "$ref_seconds" "$ours_seconds")
  row "MD5 of a 256 MiB file" "$ours MB/s" "$ref MB/s (md5sum)" "$r" ">= $goal"
  at_least "$r" "$goal" || echo "bench: MD5 throughput below its goal" >&2
}

# The pass over check lists of 100, 1,000 and 10,000 files: flat time per file means the
# total grows linearly. The reference is the same pass over the smallest list.
bench_check_list() {
  local dir="$SCRATCH/checklist" goal=1.50 out
  mkdir -p "$dir"
  out=$("$WINE" "$OUT/CheckListBench.exe" "$(wine_path "$dir")" </dev/null | tr -d '\r') || {
    echo "bench: the check-list benchmark failed" >&2
    FAILED=1
    return
  }
  echo "$out"
  local small large per
  small=$(sed -n 's/^check_list files=100 .*per_file_us=\([0-9.]*\).*/\1/p' <<<"$out")
  large=$(sed -n 's/^check_list files=10000 .*per_file_us=\([0-9.]*\).*/\1/p' <<<"$out")
  per=$(sed -n 's/^check_list files=\([0-9]*\) .*per_file_us=\([0-9.]*\).*/\1: \2 us/p' <<<"$out" |
    paste -sd' ' | sed 's/ \([0-9]*:\)/, \1/g')
  local r
  r=$(ratio "$large" "$small")
  row "check list + repair, time per file (100, 1,000, 10,000 files)" "$per" \
    "$small us per file at 100 files" "$r" "<= $goal (linear)"
  at_least "$goal" "$r" || echo "bench: check-list time per file grows with the list" >&2
}

for program in Md5Bench.exe CheckListBench.exe; do
  if [ ! -f "$OUT/$program" ]; then
    echo "bench: missing $OUT/$program (build the x86_64 tree with tests)" >&2
    exit 2
  fi
done

HOST="unknown"
bench_md5
bench_check_list

echo
echo "machine: $(nproc) cores, $(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) memory, $(uname -m)"
echo "our code: the DLL's sources built for x86_64, run under wine64 $("$WINE" --version 2>/dev/null) (the program reports: $HOST)"
echo
print_table
exit "$FAILED"
