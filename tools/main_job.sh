#!/usr/bin/env bash
# Demonstration: runs the sample game against a local update server: once with a manifest
# that lets the core module start, once with one that keeps it from loading, and once on an
# installation with a damaged file that the check list repairs; then one machine through its
# lifecycle: the full package, a patch, and a patch that rolls back because a file is held.
#   tools/main_job.sh <build-out-dir>
# The build-out dir holds OrvexBridge.dll, SampleHost.exe, TestCore.dll and TestHost.exe. The caller sets
# up WINEPREFIX/WINEDEBUG and the wineserver; WINE_LOADER picks the wine loader.
set -uo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 <build-out-dir>" >&2
  exit 2
fi

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$(cd "$1" 2>/dev/null && pwd)" || {
  echo "main_job: no such directory: $1" >&2
  exit 2
}
WINE="${WINE_LOADER:-/usr/lib/wine/wine64}"
PORT=8008
MANIFESTS="$ROOT/tools/sample_server"
WORK="$(dirname "$OUT")/sample_game"
RUN_LIMIT=120 # seconds for one run of the sample game under wine

for f in OrvexBridge.dll SampleHost.exe TestCore.dll TestHost.exe; do
  if [ ! -f "$OUT/$f" ]; then
    echo "main_job: missing $OUT/$f (build the SampleHost, OrvexBridge and TestCore targets)" >&2
    exit 2
  fi
done
if [ ! -x "$WINE" ]; then
  echo "main_job: wine loader not found: $WINE" >&2
  exit 2
fi

port_answers() {
  timeout 1 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT" 2>/dev/null
}

SERVER_PID=""
stop_server() {
  if [ -n "$SERVER_PID" ]; then
    kill "$SERVER_PID" 2>/dev/null
    # Bounded: escalate if it does not go within about 5 s.
    for _ in $(seq 50); do
      kill -0 "$SERVER_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$SERVER_PID" 2>/dev/null
    wait "$SERVER_PID" 2>/dev/null
    SERVER_PID=""
  fi
}
trap stop_server EXIT
trap 'exit 130' INT TERM

# Serves <dir> on the update port; returns once the port answers (at most about 10 s).
start_server() {
  local dir="$1" log="$2"
  # Another user of the port may be finishing; give it about 10 s.
  for _ in $(seq 10); do
    port_answers || break
    sleep 1
  done
  if port_answers; then
    echo "main_job: port $PORT is already in use; not starting a second update server" >&2
    return 1
  fi
  python3 -m http.server "$PORT" --bind 127.0.0.1 --directory "$dir" >"$log" 2>&1 &
  SERVER_PID=$!
  for _ in $(seq 100); do
    if ! kill -0 "$SERVER_PID" 2>/dev/null; then
      echo "main_job: the update server exited at start:" >&2
      cat "$log" >&2
      SERVER_PID=""
      return 1
    fi
    if port_answers; then return 0; fi
    sleep 0.1
  done
  echo "main_job: the update server did not answer on port $PORT within 10 s" >&2
  stop_server
  return 1
}

# A server tree for the repair run: the manifest of version 1.0.0, a check list of the
# installation with the MD5 of every good file, and the good copies under files/.
make_repair_server() {
  local tree="$1"
  mkdir -p "$tree/files"
  cp "$MANIFESTS/start1/version.xml" "$tree/version.xml"
  cp "$OUT/TestCore.dll" "$tree/files/Orvex.dll"
  printf 'level data of version 1.0.0\n' >"$tree/files/level.dat"
  local core_md5 level_md5
  core_md5="$(md5sum "$tree/files/Orvex.dll" | cut -d' ' -f1)"
  level_md5="$(md5sum "$tree/files/level.dat" | cut -d' ' -f1)"
  cat >"$tree/g_file_check_list.xml" <<XML
<?xml version="1.0" encoding="ISO-8859-1"?>
<root version="1.0.0">
  <file name="Orvex.dll" md5="$core_md5" remote_file_url="http://127.0.0.1:$PORT/files/Orvex.dll"/>
  <file name="data\\level.dat" md5="$level_md5" remote_file_url="http://127.0.0.1:$PORT/files/level.dat"/>
</root>
XML
}

# manifest_for <tree> <version> <archive>: a manifest selecting that version and archive.
manifest_for() {
  cat >"$1/version.xml" <<XML
<?xml version="1.0" encoding="ISO-8859-1"?>
<root start="1" url="http://127.0.0.1:$PORT/$3" version="$2"/>
XML
}

# Server trees of the lifecycle runs, each made with the real 7zz: the full package of
# 1.0.0; a patch to 1.1.0 that changes one file and adds two in a new directory; a patch to
# 1.2.0 that changes every file.
make_lifecycle_servers() {
  local src="$WORK/src"
  rm -rf "$src"
  mkdir -p "$src/full/data" "$src/p11/data/maps" "$src/p12/data/maps" \
    "$WORK/server_install" "$WORK/server_patch" "$WORK/server_rollback"
  cp "$OUT/TestCore.dll" "$src/full/Orvex.dll"
  printf 'level data of version 1.0.0\n' >"$src/full/data/level.dat"
  printf 'settings of version 1.0.0\n' >"$src/full/data/settings.ini"
  printf 'level data of version 1.1.0\n' >"$src/p11/data/level.dat"
  printf 'map one, new in 1.1.0\n' >"$src/p11/data/maps/one.map"
  printf 'map two, new in 1.1.0\n' >"$src/p11/data/maps/two.map"
  printf 'level data of version 1.2.0\n' >"$src/p12/data/level.dat"
  printf 'settings of version 1.2.0\n' >"$src/p12/data/settings.ini"
  printf 'map one of version 1.2.0\n' >"$src/p12/data/maps/one.map"
  printf 'map three, new in 1.2.0\n' >"$src/p12/data/maps/three.map"
  (cd "$src/full" && 7zz a -bso0 -bsp0 -m0=LZMA2 "$WORK/server_install/orvex_1.0.0.7z" .)
  (cd "$src/p11" && 7zz a -bso0 -bsp0 -m0=LZMA2 "$WORK/server_patch/patch_1.1.0.7z" .)
  (cd "$src/p12" && 7zz a -bso0 -bsp0 -m0=LZMA2 "$WORK/server_rollback/patch_1.2.0.7z" .)
  manifest_for "$WORK/server_install" 1.0.0 orvex_1.0.0.7z
  manifest_for "$WORK/server_patch" 1.1.0 patch_1.1.0.7z
  manifest_for "$WORK/server_rollback" 1.2.0 patch_1.2.0.7z
}

# The installation's files with their MD5, one per line.
show_installation() {
  echo "$1"
  if [ -d "$2/bin" ]; then
    (cd "$2" && find bin -type f ! -name core_calls.log | sort | while read -r f; do
      printf '    %s  %s\n' "$(md5sum <"$f" | cut -d' ' -f1)" "$f"
    done)
  else
    echo "    (no bin directory)"
  fi
  local version="(none)"
  if [ -f "$2/version.bin" ]; then
    version="$(tr -d '\r' <"$2/version.bin" | grep '^version=' || echo '(no version)')"
  fi
  printf '    version.bin: %s\n' "$version"
}

# run_game <name>: a fresh game dir, the matching server tree, one run of the sample game.
run_game() {
  local name="$1" tree
  local game="$WORK/$name"
  case "$name" in install | patch | rollback) game="$WORK/lifecycle" ;; esac
  local serverLog="$WORK/server_$name.log"
  echo
  echo "=================================================================="
  case "$name" in
    start1)
      tree="$MANIFESTS/start1"
      echo " Run: manifest selects start=\"1\" for game 7, area 30, group 2"
      echo " Expected: the update gate opens and the core module starts"
      ;;
    start0)
      tree="$MANIFESTS/start0"
      echo " Run: manifest selects start=\"0\" for game 7, area 30, group 2"
      echo " Expected: the update gate stays shut and the core module never loads"
      ;;
    repair)
      tree="$WORK/server_repair"
      echo " Run: installed version 1.0.0 equals the manifest's; bin\\data\\level.dat is damaged"
      echo " Expected: the check list marks that file, a verified good copy replaces it, the"
      echo "           intact Orvex.dll is not downloaded, and the core module starts"
      ;;
    install)
      tree="$WORK/server_install"
      echo " Run: a machine without the core module; the manifest offers the full package 1.0.0"
      echo " Expected: the package is downloaded and unpacked into bin, version 1.0.0 is"
      echo "           recorded in version.bin, and the core module starts"
      ;;
    patch)
      tree="$WORK/server_patch"
      echo " Run: the same machine; the server now publishes 1.1.0 as a patch"
      echo " Expected: the patch replaces data\\level.dat and adds data\\maps, version 1.1.0 is"
      echo "           recorded, and the core module starts"
      ;;
    rollback)
      tree="$WORK/server_rollback"
      echo " Run: the server publishes 1.2.0; another program holds bin\\data\\level.dat open"
      echo "      for reading only, so it cannot be replaced"
      echo " Expected: the patch rolls back whole: every file as before, the added map gone,"
      echo "           version.bin still 1.1.0; the core module starts"
      ;;
  esac
  echo "=================================================================="

  if [ "$name" = install ]; then
    mkdir -p "$game"
    cp "$OUT/OrvexBridge.dll" "$game/OrvexBridge.dll"
  elif [ "$name" = start1 ] || [ "$name" = start0 ] || [ "$name" = repair ]; then
    mkdir -p "$game/bin"
    cp "$OUT/OrvexBridge.dll" "$game/OrvexBridge.dll"
    cp "$OUT/TestCore.dll" "$game/bin/Orvex.dll"
  fi
  local before="" holder=""
  case "$name" in
    install) show_installation "before:" "$game" ;;
    patch | rollback)
      before="$(show_installation "" "$game")"
      show_installation "before:" "$game"
      ;;
  esac
  if [ "$name" = rollback ]; then
    rm -f "$game/held" "$game/release"
    (cd "$game" && "$WINE" "$OUT/TestHost.exe" holder.out 'hold:bin\data\level.dat' \
      signal:held waitfile:release:300000) </dev/null >/dev/null 2>&1 &
    holder=$!
    for _ in $(seq 300); do [ -f "$game/held" ] && break; sleep 0.1; done
    echo "holder: $(tr -d '\r' <"$game/holder.out" 2>/dev/null | head -n1) (bin\data\level.dat open for reading)"
  fi
  if [ "$name" = repair ]; then
    make_repair_server "$tree"
    printf '[conf]\r\nversion=1.0.0\r\n' >"$game/version.bin"
    mkdir -p "$game/bin/data"
    printf 'damaged by a crashed write\n' >"$game/bin/data/level.dat"
    echo "before: bin\\data\\level.dat md5 $(md5sum <"$game/bin/data/level.dat" | cut -d' ' -f1)"
    echo "        check list wants     $(grep -o 'level.dat" md5="[0-9a-f]*' "$tree/g_file_check_list.xml" | sed 's/.*md5="//')"
  fi

  start_server "$tree" "$serverLog" || return 1
  echo "update server: http://127.0.0.1:$PORT/ serving $tree"
  echo "game directory: $game"
  echo

  local rc=0
  (cd "$game" && timeout -k 5 "$RUN_LIMIT" "$WINE" "$OUT/SampleHost.exe") </dev/null | tr -d '\r'
  rc=${PIPESTATUS[0]}
  stop_server
  if [ -n "$holder" ]; then
    touch "$game/release"
    wait "$holder" 2>/dev/null
  fi

  echo
  echo "requests seen by the update server:"
  grep -E '"(GET|HEAD|POST) ' "$serverLog" | sed 's/^/    /' || echo "    (none)"
  if [ "$name" = repair ]; then
    if cmp -s "$game/bin/data/level.dat" "$tree/files/level.dat"; then
      echo "after:  bin\\data\\level.dat was repaired (it now matches the check list's MD5)"
    else
      echo "after:  bin\\data\\level.dat was NOT repaired"
      rc=1
    fi
  fi
  case "$name" in
    install | patch | rollback) show_installation "after:" "$game" ;;
  esac
  # check <what> <command...>: prints whether the command holds.
  check() {
    local what="$1"
    shift
    if "$@"; then echo "check: $what"; else echo "check FAILED: $what"; rc=1; fi
  }
  case "$name" in
    install)
      check "bin\Orvex.dll installed from the package" cmp -s "$game/bin/Orvex.dll" "$OUT/TestCore.dll"
      check "version 1.0.0 recorded" grep -q "^version=1.0.0" "$game/version.bin"
      check "the downloaded package was removed" test ! -e "$game/orvex_packet.7z"
      ;;
    patch)
      check "data\level.dat patched to 1.1.0" grep -q "1.1.0" "$game/bin/data/level.dat"
      check "data\maps added" test -f "$game/bin/data/maps/two.map"
      check "version 1.1.0 recorded" grep -q "^version=1.1.0" "$game/version.bin"
      ;;
    rollback)
      check "the installation is exactly as before" test "$before" = "$(show_installation "" "$game")"
      check "the file the patch added is gone again" test ! -e "$game/bin/data/maps/three.map"
      ;;
  esac
  if [ "$rc" = 124 ]; then
    echo "sample game: did not finish within $RUN_LIMIT s"
  else
    echo "sample game exit code: $rc"
  fi
  return "$rc"
}

rm -rf "$WORK"
mkdir -p "$WORK"

status=0
run_game start1 || status=1
run_game start0 || status=1
run_game repair || status=1
make_lifecycle_servers
run_game install || status=1
run_game patch || status=1
run_game rollback || status=1

echo
if [ "$status" = 0 ]; then
  echo "main job finished: every run completed"
else
  echo "main job finished with a failure (see above)"
fi
exit "$status"
