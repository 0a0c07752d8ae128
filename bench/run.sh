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
SERVER_PID="" # the loopback HTTP server of the install row, while it runs
trap '[ -z "$SERVER_PID" ] || kill "$SERVER_PID" 2>/dev/null; rm -rf "$SCRATCH"' EXIT

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

# The package that the extraction and install rows unpack: 256 MiB in 32 files of 8 MiB,
# a third each incompressible (random bytes), highly compressible (counting text) and
# literal-heavy (base64 text of random bytes), packed with LZMA2 into solid blocks of 16 MiB.
# Fast mode keeps the packing to seconds: the match finder of the slower levels crawls over
# the random files. The decoder's work does not depend on the dictionary size.
PACKAGE="$SCRATCH/package.7z"
PACKAGE_BYTES=0
LARGEST_BLOCK=0
make_package() {
  local src="$SCRATCH/package-src" i dir
  for i in $(seq 0 31); do
    dir="$src/d$((i % 4))"
    mkdir -p "$dir"
    case $((i % 3)) in
      0) head -c 8388608 /dev/urandom >"$dir/f$i.bin" ;;
      1)
        seq $((i * 1000000)) $((i * 1000000 + 1500000)) >"$dir/f$i.txt"
        truncate -s 8388608 "$dir/f$i.txt"
        ;;
      *) head -c 6291456 /dev/urandom | base64 -w 0 >"$dir/f$i.b64" ;;
    esac
  done
  (cd "$src" && 7zz a -bso0 -bsp0 -mx=1 -m0=LZMA2 -ms=16m -mmt=2 "$PACKAGE" .)
  rm -rf "$src"
  PACKAGE_BYTES=$(stat -c %s "$PACKAGE")
  # The unpacked size of every solid block is the sum of its entries' sizes.
  LARGEST_BLOCK=$(7zz l -slt "$PACKAGE" | awk -F' = ' '
    /^Size = / { size = $2 }
    /^Block = [0-9]/ { block[$2] += size }
    END { for (b in block) if (block[b] > max) max = block[b]; print max + 0 }')
  cat "$PACKAGE" >/dev/null # every side reads it from the page cache
}

mib() { awk -v n="$1" 'BEGIN { printf "%.1f", n / 1048576 }'; }

# Unpacking the package from the page cache, each run into a fresh directory: ExtractArchive
# against `7zz x` on one thread. Also its peak memory against the largest solid block.
bench_extract() {
  local ref="$SCRATCH/extract-ref" ours="$SCRATCH/extract-ours" unpacked=268435456
  local start end ref_seconds="" t
  for _ in $(seq "$REPEATS"); do
    rm -rf "$ref"
    start=$(date +%s.%N)
    7zz x -mmt1 -y -bso0 -bsp0 -o"$ref" "$PACKAGE"
    end=$(date +%s.%N)
    t=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f", e - s }')
    if [ -z "$ref_seconds" ] || at_least "$ref_seconds" "$t"; then ref_seconds=$t; fi
  done

  mkdir -p "$ours"
  local line
  line=$("$WINE" "$OUT/ExtractBench.exe" "$(wine_path "$PACKAGE")" "$(wine_path "$ours")" \
    "$REPEATS" </dev/null | tr -d '\r') || {
    echo "bench: the extraction benchmark failed" >&2
    FAILED=1
    return
  }
  echo "$line"
  local dir
  for dir in "$ours"/*; do
    if ! diff -r "$ref" "$dir" >/dev/null; then
      echo "bench: the tree extracted into $dir differs from 7zz's" >&2
      FAILED=1
    fi
  done
  rm -rf "$ours"

  local ours_seconds base peak ws
  ours_seconds=$(sed -n 's/.* seconds=\([0-9.]*\).*/\1/p' <<<"$line")
  base=$(sed -n 's/.* base_private=\([0-9]*\).*/\1/p' <<<"$line")
  peak=$(sed -n 's/.* peak_private=\([0-9]*\).*/\1/p' <<<"$line")
  ws=$(sed -n 's/.* peak_ws=\([0-9]*\).*/\1/p' <<<"$line")

  local goal=0.90 r
  r=$(ratio "$ref_seconds" "$ours_seconds")
  row "extraction of a 256 MiB package ($(mib "$PACKAGE_BYTES") MiB packed, 32 files)" \
    "$(mb_per_s "$unpacked" "$ours_seconds") MB/s" \
    "$(mb_per_s "$unpacked" "$ref_seconds") MB/s (7zz x -mmt1)" "$r" ">= $goal"
  at_least "$r" "$goal" || echo "bench: extraction throughput below its goal" >&2

  # The goal counts what the call adds to the process: wine's own start-up allocations are
  # in the level before it.
  local grown limit=$((LARGEST_BLOCK + 2097152))
  grown=$((peak - base))
  r=$(ratio "$grown" "$limit")
  row "peak memory of that extraction" \
    "$(mib "$peak") MiB private, $(mib "$grown") MiB above the $(mib "$base") MiB before the call (working set $(mib "$ws") MiB)" \
    "largest solid block $(mib "$LARGEST_BLOCK") MiB" "$r" \
    "<= 1.00 of $(mib "$limit") MiB (block + 2 MiB)"
  at_least 1 "$r" || echo "bench: extraction memory above its goal" >&2
}

# A static file server on a free loopback port; sets SERVER_PID and PORT.
start_server() {
  local log="$SCRATCH/server.log"
  python3 -u -m http.server --bind 127.0.0.1 --directory "$1" 0 >"$log" 2>/dev/null &
  SERVER_PID=$!
  PORT=""
  for _ in $(seq 100); do
    PORT=$(sed -n 's/^Serving HTTP on 127\.0\.0\.1 port \([0-9]*\).*/\1/p' "$log")
    if [ -n "$PORT" ]; then return 0; fi
    sleep 0.1
  done
  echo "bench: the loopback HTTP server did not start" >&2
  return 1
}

stop_server() {
  kill "$SERVER_PID" 2>/dev/null || true
  wait "$SERVER_PID" 2>/dev/null || true
  SERVER_PID=""
}

# The full install, download and unpack, from the same loopback server: Install() against
# curl followed by `7zz x` on one thread. Install() writes beside its program's exe, so a
# copy of the program runs in a scratch directory whose bin\ is emptied before every run.
bench_install() {
  local served="$SCRATCH/served" inst="$SCRATCH/install" ref="$SCRATCH/install-ref"
  mkdir -p "$served" "$inst" "$ref"
  ln "$PACKAGE" "$served/package.7z"
  start_server "$served" || {
    FAILED=1
    return
  }
  local url="http://127.0.0.1:$PORT/package.7z"

  local start end ref_seconds="" t
  for _ in $(seq "$REPEATS"); do
    rm -rf "${ref:?}/bin" "$ref/package.7z"
    start=$(date +%s.%N)
    curl -s --noproxy '*' -o "$ref/package.7z" "$url"
    7zz x -mmt1 -y -bso0 -bsp0 -o"$ref/bin" "$ref/package.7z"
    end=$(date +%s.%N)
    t=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f", e - s }')
    if [ -z "$ref_seconds" ] || at_least "$ref_seconds" "$t"; then ref_seconds=$t; fi
  done
  rm -rf "$ref"

  cp "$OUT/InstallBench.exe" "$inst/"
  local line ours_seconds=""
  for _ in $(seq "$REPEATS"); do
    rm -rf "${inst:?}/bin"
    line=$(cd "$inst" && "$WINE" "$inst/InstallBench.exe" "$url" </dev/null | tr -d '\r') || true
    echo "$line"
    if [[ "$line" != *" ok=1"* ]]; then
      echo "bench: Install() failed" >&2
      FAILED=1
      return
    fi
    t=$(sed -n 's/.* seconds=\([0-9.]*\).*/\1/p' <<<"$line")
    if [ -z "$ours_seconds" ] || at_least "$ours_seconds" "$t"; then ours_seconds=$t; fi
  done
  if ! diff -r "$SCRATCH/extract-ref" "$inst/bin" >/dev/null; then
    echo "bench: the tree installed into $inst/bin differs from 7zz's" >&2
    FAILED=1
  fi
  rm -rf "$inst"
  stop_server

  local goal=1.10 r
  r=$(ratio "$ours_seconds" "$ref_seconds")
  row "full install of that package over loopback HTTP (download + unpack), ours / theirs" \
    "$(printf '%.2f' "$ours_seconds") s" "$(printf '%.2f' "$ref_seconds") s (curl, then 7zz x -mmt1)" \
    "$r" "<= $goal"
  at_least "$goal" "$r" || echo "bench: full install slower than its goal" >&2
}

for program in Md5Bench.exe CheckListBench.exe ExtractBench.exe InstallBench.exe; do
  if [ ! -f "$OUT/$program" ]; then
    echo "bench: missing $OUT/$program (build the x86_64 tree with tests)" >&2
    exit 2
  fi
done

HOST="unknown"
bench_md5
bench_check_list
make_package
bench_extract
bench_install

echo
echo "machine: $(nproc) cores, $(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) memory, $(uname -m)"
echo "our code: the DLL's sources built for x86_64, run under wine64 $("$WINE" --version 2>/dev/null) (the program reports: $HOST)"
echo
print_table
exit "$FAILED"
