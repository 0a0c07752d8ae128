#!/usr/bin/env bash
# Demonstration: runs the sample game against a local update server twice, once with a
# manifest that lets the core module start and once with one that keeps it from loading.
#   tools/main_job.sh <build-out-dir>
# The build-out dir holds OrvexBridge.dll, SampleHost.exe and TestCore.dll. The caller sets
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

for f in OrvexBridge.dll SampleHost.exe TestCore.dll; do
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

# run_game <start value>: a fresh game dir, the matching manifest, one run of the sample game.
run_game() {
  local start="$1"
  local game="$WORK/start$start"
  local serverLog="$WORK/server_start$start.log"
  echo
  echo "=================================================================="
  echo " Run: manifest selects start=\"$start\" for game 7, area 30, group 2"
  if [ "$start" = 1 ]; then
    echo " Expected: the update gate opens and the core module starts"
  else
    echo " Expected: the update gate stays shut and the core module never loads"
  fi
  echo "=================================================================="

  mkdir -p "$game/bin"
  cp "$OUT/OrvexBridge.dll" "$game/OrvexBridge.dll"
  cp "$OUT/TestCore.dll" "$game/bin/Orvex.dll"

  start_server "$MANIFESTS/start$start" "$serverLog" || return 1
  echo "update server: http://127.0.0.1:$PORT/ serving $MANIFESTS/start$start"
  echo "game directory: $game"
  echo

  local rc=0
  (cd "$game" && timeout -k 5 "$RUN_LIMIT" "$WINE" "$OUT/SampleHost.exe") </dev/null | tr -d '\r'
  rc=${PIPESTATUS[0]}
  stop_server

  echo
  echo "requests seen by the update server:"
  grep -E '"(GET|HEAD|POST) ' "$serverLog" | sed 's/^/    /' || echo "    (none)"
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
run_game 1 || status=1
run_game 0 || status=1

echo
if [ "$status" = 0 ]; then
  echo "main job finished: both runs completed"
else
  echo "main job finished with a failure (see above)"
fi
exit "$status"
