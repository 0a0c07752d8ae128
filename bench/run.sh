#!/usr/bin/env bash
# Benchmarks: each program of ours runs beside a reference tool on the same input in the
# same run, and every measurement becomes one row of the table printed at the end.
#   bench/run.sh <build-out-dir>
# The build-out dir holds the x86_64 benchmark programs. The caller sets up WINEPREFIX,
# WINEDEBUG and the wineserver; WINE_LOADER picks the wine loader. BENCH_REPEATS sets how
# many timed runs each side gets (best one counts, default 3); BENCH_ONLY picks rows.
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
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
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

  local goal=0.85 r
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
# WinHTTP's own ceiling for the download (a bare WinHttpReadData loop that writes nothing, on
# the same build and platform) followed by `7zz x` on one thread. Install() writes beside
# its program's exe, so a copy of the program runs in a scratch directory whose bin\ is
# emptied before every run.
bench_install() {
  local served="$SCRATCH/served" inst="$SCRATCH/install" ref="$SCRATCH/install-ref"
  mkdir -p "$served" "$inst" "$ref"
  ln "$PACKAGE" "$served/package.7z"
  start_server "$served" || {
    FAILED=1
    return
  }
  local url="http://127.0.0.1:$PORT/package.7z"

  local start end unpack_seconds="" t ceiling_seconds
  for _ in $(seq "$REPEATS"); do
    rm -rf "${ref:?}/bin"
    start=$(date +%s.%N)
    7zz x -mmt1 -y -bso0 -bsp0 -o"$ref/bin" "$PACKAGE"
    end=$(date +%s.%N)
    t=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f", e - s }')
    if [ -z "$unpack_seconds" ] || at_least "$unpack_seconds" "$t"; then unpack_seconds=$t; fi
  done
  rm -rf "$ref"
  ceiling_seconds=$(download_seconds "$url" "$SCRATCH/unused" bare) || {
    FAILED=1
    return
  }
  local ref_seconds
  ref_seconds=$(awk -v a="$ceiling_seconds" -v b="$unpack_seconds" 'BEGIN { printf "%.6f", a + b }')

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

  local goal=1.15 r
  r=$(ratio "$ours_seconds" "$ref_seconds")
  row "full install of that package over loopback HTTP (download + unpack), ours / theirs" \
    "$(printf '%.2f' "$ours_seconds") s" \
    "$(printf '%.2f' "$ref_seconds") s (WinHTTP ceiling $(printf '%.2f' "$ceiling_seconds") s, then 7zz x -mmt1 $(printf '%.2f' "$unpack_seconds") s)" \
    "$r" "<= $goal"
  at_least "$goal" "$r" || echo "bench: full install slower than its goal" >&2
}

# The render path, each state in a process of its own in a scratch game directory: the
# gate shut in a first instance, the core attached (against its Render slot called
# directly), and a later game while another holder keeps the update lock. The references
# are an empty exported function of a DLL of the same build and the direct slot call.
bench_render() {
  local game="$SCRATCH/render-game" line
  render_run() { (cd "$game" && "$WINE" "$OUT/RenderBench.exe" "$@" </dev/null | tr -d '\r'); }
  field() { sed -n "s/.* $1=\([0-9.]*\).*/\1/p" <<<"$2"; }
  fresh_game() {
    rm -rf "$game"
    mkdir -p "$game/bin"
    cp "$OUT/OrvexBridge.dll" "$game/"
    cp "$OUT/BenchCore.dll" "$game/bin/Orvex.dll"
  }
  fresh_game
  local empty shut forward later
  empty=$(render_run empty "$(wine_path "$OUT/EmptyExport.dll")") || empty=""
  shut=$(render_run shut) || shut=""
  fresh_game
  printf '[conf]\r\nversion=1.0\r\n' >"$game/version.bin"
  forward=$(render_run forward) || forward=""
  fresh_game
  later=$(render_run later) || later=""
  printf '%s\n' "$empty" "$shut" "$forward" "$later"
  if [ -z "$empty" ] || [ -z "$shut" ] || [ -z "$forward" ] || [ -z "$later" ]; then
    echo "bench: a render benchmark failed" >&2
    FAILED=1
    return
  fi
  if [[ "$shut" != *"core_loaded=0"* || "$later" != *"core_loaded=0"* ]]; then
    echo "bench: the gate opened while it was to stay shut" >&2
    FAILED=1
  fi
  local e s f d l r
  e=$(field ns_per_call "$empty")
  s=$(field ns_per_call "$shut")
  f=$(field ns_per_call "$forward")
  d=$(field direct_ns_per_call "$forward")
  l=$(field ns_per_call "$later")
  r=$(ratio "$s" "$e")
  row "OrvexDx9Render, gate shut, first instance" "$s ns per call" \
    "$e ns (empty exported function)" "$r" "<= 1.50"
  at_least 1.5 "$r" || echo "bench: the shut gate costs more than its goal" >&2
  r=$(ratio "$f" "$d")
  row "OrvexDx9Render forwarded to the attached core" "$f ns per call" \
    "$d ns (the core's Render slot called directly)" "$r" "<= 1.30"
  at_least 1.3 "$r" || echo "bench: forwarding costs more than its goal" >&2
  local us budget=16666.7
  us=$(awk -v n="$l" 'BEGIN { printf "%.2f", n / 1000 }')
  r=$(awk -v u="$us" -v b="$budget" 'BEGIN { printf "%.5f", u / b }')
  row "OrvexDx9Render of a later game while another updates (one lock probe)" \
    "$us us per call" "frame budget at 60 fps: $budget us" "$r" "(share of a frame)"
}

# Best seconds of DownloadBench on url into file (a Windows path is made here); "bare" as
# the third argument times WinHTTP's ceiling instead. Fails when a run did not complete.
download_seconds() {
  local line
  line=$("$WINE" "$OUT/DownloadBench.exe" "$1" "$(wine_path "$2")" "$REPEATS" ${3:+"$3"} \
    </dev/null | tr -d '\r') || line=""
  echo "$line" >&2
  [[ "$line" == *" ok=1"* ]] || {
    echo "bench: the download ${3:+($3) }failed" >&2
    return 1
  }
  sed -n 's/.* seconds=\([0-9.]*\).*/\1/p' <<<"$line"
}

# A 256 MiB file from a loopback server: the bridge's download request against WinHTTP's own
# ceiling on the same build and platform, and against curl, which bypasses WinHTTP, for
# context.
bench_download() {
  local served="$SCRATCH/download-served" file="$SCRATCH/download.bin" bytes=268435456
  mkdir -p "$served"
  head -c "$bytes" /dev/urandom >"$served/file.bin"
  start_server "$served" || {
    FAILED=1
    return
  }
  local url="http://127.0.0.1:$PORT/file.bin" ref_seconds ceiling_seconds="" ours_seconds=""
  ref_seconds=$(best_seconds curl -s --noproxy '*' -o "$file" "$url")
  # Alternated, one download each per round, so that a load that comes and goes on the
  # machine falls on both sides alike; the best round of each counts.
  local round c o
  for round in $(seq "$REPEATS"); do
    c=$(REPEATS=1 download_seconds "$url" "$file" bare) &&
      o=$(REPEATS=1 download_seconds "$url" "$file") || {
      ours_seconds=""
      break
    }
    ceiling_seconds=$(awk -v a="$c" -v b="$ceiling_seconds" 'BEGIN { print (b == "" || a < b) ? a : b }')
    ours_seconds=$(awk -v a="$o" -v b="$ours_seconds" 'BEGIN { print (b == "" || a < b) ? a : b }')
  done
  stop_server
  if [ -z "$ours_seconds" ] || ! cmp -s "$file" "$served/file.bin"; then
    echo "bench: the download failed or differs" >&2
    FAILED=1
    return
  fi
  rm -rf "$served" "$file"
  local r goal=0.90
  r=$(ratio "$ceiling_seconds" "$ours_seconds")
  row "download of a 256 MiB file over loopback HTTP" "$(mb_per_s "$bytes" "$ours_seconds") MB/s" \
    "$(mb_per_s "$bytes" "$ceiling_seconds") MB/s (WinHTTP ceiling: bare WinHttpReadData loop, no writes)" \
    "$r" ">= $goal"
  at_least "$r" "$goal" || echo "bench: download throughput below its goal" >&2
  row "the same download against curl (context: curl bypasses WinHTTP)" \
    "$(mb_per_s "$bytes" "$ours_seconds") MB/s" "$(mb_per_s "$bytes" "$ref_seconds") MB/s (curl)" \
    "$(ratio "$ref_seconds" "$ours_seconds")" "none"
}

# The package from a server that cuts the connection once at a random point inside every
# 40 MiB (bench/cutting_server.py), installed by InstallBench started again until it
# succeeds, as a player starts the game again: the bytes the server sent, against the
# package's size, with range requests answered and with the server ignoring them.
bench_resume() {
  local dir="$SCRATCH/resume" bytes="$PACKAGE_BYTES" mode sent starts line results=()
  mkdir -p "$dir/served"
  ln "$PACKAGE" "$dir/served/package.7z"
  for mode in ranges no-ranges; do
    local log="$dir/server-$mode.log" port="" option=()
    [ "$mode" = ranges ] || option=(--no-ranges)
    python3 -u "$ROOT/bench/cutting_server.py" "$dir/served" 40 7 ${option[@]+"${option[@]}"} \
      >"$log" 2>/dev/null &
    SERVER_PID=$!
    for _ in $(seq 100); do
      port=$(sed -n 's/^port \([0-9]*\)$/\1/p' "$log")
      [ -n "$port" ] && break
      sleep 0.1
    done
    rm -rf "$dir/inst"
    mkdir -p "$dir/inst"
    cp "$OUT/InstallBench.exe" "$dir/inst/"
    starts=0
    line=""
    while [[ "$line" != *" ok=1"* ]] && [ "$starts" -lt 30 ]; do
      starts=$((starts + 1))
      line=$(cd "$dir/inst" && "$WINE" "$dir/inst/InstallBench.exe" \
        "http://127.0.0.1:$port/package.7z" </dev/null | tr -d '\r') || true
    done
    stop_server
    sent=$(awk '/^sent / { n += $2 } END { printf "%d", n }' "$log")
    echo "resume ($mode): $starts start(s), $sent bytes sent, last: $line"
    results+=("$(ratio "$sent" "$bytes") ($starts starts)")
  done
  local r=${results[0]%% *}
  row "resume: the 256 MiB package ($(mib "$bytes") MiB packed), connection cut once in every 40 MiB; bytes sent / package" \
    "${results[0]}" "${results[1]} (server without range support)" "$r" "<= 1.10"
  at_least 1.10 "$r" || echo "bench: resumed downloads sent more than their goal" >&2
}

# Releases A and B of three kinds, made here: two builds of this project's DLL, stripped as
# shipped (unkeyed and keyed: the same sources but the one file that holds the key), a 64 MiB
# data file with 1% of its 4 KiB blocks changed in scattered places, and 1,000 small files
# with 50 changed. Each pair is published with deltas; the delta archive is set beside the
# whole-file patch in bytes, and installing each with DeltaBench (download over loopback,
# unpack, journaled install) in time and in private bytes.
make_delta_releases() {
  local rel="$1" kind="$2"
  mkdir -p "$rel/1.0.0" "$rel/1.0.1"
  # Stripped as a studio ships them (the build's own copies carry their debug information).
  # Every release holds the core module at its top; only the DLL pair changes it.
  x86_64-w64-mingw32-strip -o "$rel/1.0.0/Orvex.dll" "$OUT/OrvexBridge.dll"
  cp "$rel/1.0.0/Orvex.dll" "$rel/1.0.1/Orvex.dll"
  case "$kind" in
    dll) x86_64-w64-mingw32-strip -o "$rel/1.0.1/Orvex.dll" "$OUT/signed/OrvexBridge.dll" ;;
    data)
      head -c 67108864 /dev/urandom >"$rel/1.0.0/data.bin"
      python3 - "$rel/1.0.0/data.bin" "$rel/1.0.1/data.bin" <<'PY'
import os, random, sys
data = bytearray(open(sys.argv[1], "rb").read())
blocks = len(data) // 4096
for b in random.Random(7).sample(range(blocks), blocks // 100):
    data[b * 4096:(b + 1) * 4096] = os.urandom(4096)
open(sys.argv[2], "wb").write(data)
PY
      ;;
    small)
      python3 - "$rel/1.0.0" "$rel/1.0.1" <<'PY'
import base64, os, random, sys
old, new = sys.argv[1], sys.argv[2]
changed = set(random.Random(7).sample(range(1000), 50))
for i in range(1000):
    name = os.path.join(f"d{i // 100}", f"f{i}.txt")
    text = base64.b64encode(os.urandom(3072))
    for root in (old, new):
        os.makedirs(os.path.join(root, f"d{i // 100}"), exist_ok=True)
        if root == new and i in changed:
            text = text[:1000] + base64.b64encode(os.urandom(48)) + text[1064:]
        open(os.path.join(root, name), "wb").write(text)
PY
      ;;
  esac
}

# delta_apply <dir> <release> <mode> <url> <sha256>: one DeltaBench run on a fresh copy of
# release 1.0.0; prints "<seconds> <peak private bytes above the start>" when it installed
# exactly release 1.0.1.
delta_apply() {
  local dir="$1" rel="$2" line
  rm -rf "$dir/inst"
  mkdir -p "$dir/inst/bin"
  cp -r "$rel/1.0.0/." "$dir/inst/bin/"
  printf '[conf]\r\nversion=1.0.0\r\n' >"$dir/inst/version.bin"
  cp "$OUT/DeltaBench.exe" "$dir/inst/"
  line=$(cd "$dir/inst" && "$WINE" "$dir/inst/DeltaBench.exe" "$3" "$4" "$5" 1.0.0 1.0.1 \
    </dev/null | tr -d '\r') || true
  echo "$line" >&2
  [[ "$line" == *" ok=1"* ]] && diff -r "$dir/inst/bin" "$rel/1.0.1" >/dev/null || return 1
  awk '{ for (i = 1; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] } }
    END { printf "%s %d\n", v["seconds"], v["peak_private"] - v["base_private"] }' <<<"$line"
}

# One kind of release: its delta and its whole-file patch published from the same two
# releases, each installed REPEATS times, alternating; false when a step fails.
delta_kind() {
  local kind="$1" dir="$SCRATCH/delta-$1" rel tree delta patch mode file result
  local delta_s="" patch_s="" delta_peak="" patch_peak=""
  rel="$dir/releases"
  tree="$dir/tree"
  mkdir -p "$tree"
  make_delta_releases "$rel" "$kind"
  start_server "$tree" || return 1
  printf '{"base_url": "http://127.0.0.1:%s", "versions": ["1.0.0", "1.0.1"], "archive": "patch"}\n' \
    "$PORT" >"$dir/config.json"
  if ! python3 "$ROOT/tools/publish/orvex_publish.py" --config "$dir/config.json" \
    --releases "$rel" --out "$tree" >"$dir/report" 2>&1; then
    cat "$dir/report" >&2
    stop_server
    return 1
  fi
  delta=$(ls "$tree"/deltas/*.7z 2>/dev/null | head -n1)
  patch=$(ls "$tree"/patches/*.7z | head -n1)
  if [ -z "$delta" ]; then
    echo "bench: no delta published for $kind" >&2
    stop_server
    return 1
  fi
  for _ in $(seq "$REPEATS"); do
    for mode in delta patch; do
      file="$delta"
      [ "$mode" = delta ] || file="$patch"
      result=$(delta_apply "$dir" "$rel" "$mode" \
        "http://127.0.0.1:$PORT/${file#"$tree"/}" "$(basename "$file" .7z)") || {
        echo "bench: the $mode of $kind did not install release 1.0.1" >&2
        stop_server
        return 1
      }
      if [ "$mode" = delta ]; then
        delta_s=$(awk -v a="${result% *}" -v b="$delta_s" 'BEGIN { print (b == "" || a < b) ? a : b }')
        delta_peak=${result#* }
      else
        patch_s=$(awk -v a="${result% *}" -v b="$patch_s" 'BEGIN { print (b == "" || a < b) ? a : b }')
        patch_peak=${result#* }
      fi
    done
  done
  stop_server
  local d p what goal="<= 0.20" peak_goal=none
  d=$(stat -c %s "$delta")
  p=$(stat -c %s "$patch")
  case "$kind" in
    dll) what="the DLL, unkeyed -> keyed build" ;;
    data)
      what="a 64 MiB data file, 1% of its 4 KiB blocks changed"
      peak_goal="<= 128 MiB (twice the file)"
      ;;
    small)
      what="1,000 small files, 50 changed"
      goal=none
      ;;
  esac
  row "delta of $what: archive bytes" "$d" "$p (whole-file patch)" "$(ratio "$d" "$p")" "$goal"
  row "delta of $what: download + install" "$delta_s s" "$patch_s s (whole-file patch)" \
    "$(ratio "$delta_s" "$patch_s")" "<= 1.50"
  row "delta of $what: peak private bytes above the start" "$(mib "$delta_peak") MiB" \
    "$(mib "$patch_peak") MiB (whole-file patch)" "$(ratio "$delta_peak" "$patch_peak")" "$peak_goal"
  if [ "$goal" != none ] && ! at_least 0.20 "$(ratio "$d" "$p")"; then
    echo "bench: the $kind delta is over its goal" >&2
  fi
  at_least 1.50 "$(ratio "$delta_s" "$patch_s")" ||
    echo "bench: the $kind delta installs slower than its goal" >&2
}

bench_delta() {
  local kind
  for kind in dll data small; do
    delta_kind "$kind" || {
      FAILED=1
      return
    }
  done
}

# Packages and patches of 100, 1,000 and 10,000 files of 1 KiB, 100 to a folder: time per
# file at each size; flat means the total grows linearly.
bench_growth() {
  local dir="$SCRATCH/growth" n i d kind out lines=""
  for n in 100 1000 10000; do
    mkdir -p "$dir/v1-$n" "$dir/v2-$n"
    python3 - "$dir" "$n" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for version in (1, 2):
    for i in range(n):
        folder = os.path.join(root, "v%d-%d" % (version, n), "d%03d" % (i // 100))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%05d.dat" % i), "wb") as f:
            f.write((("version %d file %d\n" % (version, i)) * 64).encode()[:1024])
PY
    (cd "$dir/v1-$n" && 7zz a -bso0 -bsp0 -mx=1 -m0=LZMA2 "$dir/package-$n.7z" .)
    (cd "$dir/v2-$n" && 7zz a -bso0 -bsp0 -mx=1 -m0=LZMA2 "$dir/patch-$n.7z" .)
    rm -rf "$dir/v1-$n" "$dir/v2-$n"
    mkdir -p "$dir/out-$n"
    out=$("$WINE" "$OUT/GrowthBench.exe" package "$(wine_path "$dir/package-$n.7z")" \
      "$(wine_path "$dir/out-$n/p")" "$n" "$REPEATS" </dev/null | tr -d '\r') || out=""
    lines+="$out"$'\n'
    rm -rf "$dir/out-$n"
    mkdir -p "$dir/out-$n"
    out=$("$WINE" "$OUT/GrowthBench.exe" patch "$(wine_path "$dir/patch-$n.7z")" \
      "$(wine_path "$dir/package-$n.7z")" "$(wine_path "$dir/out-$n")" "$n" "$REPEATS" \
      </dev/null | tr -d '\r') || out=""
    lines+="$out"$'\n'
    rm -rf "$dir/out-$n"
  done
  echo -n "$lines"
  for kind in package patch; do
    local per small large r
    small=$(sed -n "s/^growth kind=$kind files=100 .*per_file_us=\([0-9.]*\).*/\1/p" <<<"$lines")
    large=$(sed -n "s/^growth kind=$kind files=10000 .*per_file_us=\([0-9.]*\).*/\1/p" <<<"$lines")
    per=$(sed -n "s/^growth kind=$kind files=\([0-9]*\) .*per_file_us=\([0-9.]*\).*/\1: \2 us/p" \
      <<<"$lines" | paste -sd' ' | sed 's/ \([0-9]*:\)/, \1/g')
    if [ -z "$small" ] || [ -z "$large" ]; then
      echo "bench: the $kind growth benchmark failed" >&2
      FAILED=1
      continue
    fi
    r=$(ratio "$large" "$small")
    row "$kind of small files, time per file (100, 1,000, 10,000 files)" "$per" \
      "$small us per file at 100 files" "$r" "<= 1.50 (linear)"
    at_least 1.5 "$r" || echo "bench: $kind time per file grows with the count" >&2
  done
}

for program in Md5Bench.exe CheckListBench.exe ExtractBench.exe InstallBench.exe RenderBench.exe \
  EmptyExport.dll BenchCore.dll DownloadBench.exe GrowthBench.exe; do
  if [ ! -f "$OUT/$program" ]; then
    echo "bench: missing $OUT/$program (build the x86_64 tree with tests)" >&2
    exit 2
  fi
done

# BENCH_ONLY (e.g. "render,growth") runs only those rows; unset runs every one.
want() { [ -z "${BENCH_ONLY:-}" ] || [[ ",$BENCH_ONLY," == *",$1,"* ]]; }

HOST="unknown"
if want render; then bench_render; fi
if want md5; then bench_md5; fi
if want checklist; then bench_check_list; fi
if want extract || want install || want resume; then make_package; fi
if want extract; then bench_extract; fi
if want install; then
  if [ ! -d "$SCRATCH/extract-ref" ]; then
    7zz x -mmt1 -y -bso0 -bsp0 -o"$SCRATCH/extract-ref" "$PACKAGE"
  fi
  bench_install
fi
if want download; then bench_download; fi
if want growth; then bench_growth; fi
if want resume; then bench_resume; fi
if want delta; then bench_delta; fi

echo
echo "machine: $(nproc) cores, $(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) memory, $(uname -m)"
echo "our code: the DLL's sources built for x86_64, run under wine64 $("$WINE" --version 2>/dev/null) (the program reports: $HOST)"
echo
print_table
exit "$FAILED"
