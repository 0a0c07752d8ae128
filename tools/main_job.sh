#!/usr/bin/env bash
# The main job: a studio's workflow, end to end. The studio's releases are published with
# tools/publish/orvex_publish.py into a tree that nginx serves on the update port, signed
# with the test build's key, and the sample game (tools/sample_host), shipping the bridge
# built with that key, starts on one player's game folder through eight stages:
#   1. no installation: the full package is installed and the core module starts;
#   2. a new release is published: the next start patches, and the core starts;
#   3. a file is damaged: the next start repairs it from the check list;
#   4. another program holds a file: the next patch rolls back, the installation unchanged;
#   5. the manifest says start="0" for the game's area: the core module never loads;
#   6. the network replays stage 2's signed manifest: it is older than the one accepted, so
#      it is refused and nothing is downloaded or changed;
#   7. 1.0.3 is published, and a poor connection cuts every download of its patch in one
#      start: the next start resumes the patch where it stopped and installs 1.0.3;
#   8. 1.0.4 is published with deltas: the game rebuilds the changed files from the ones it
#      has and a delta a fraction of the patch's size, and never fetches the patch.
# Stages 2 to 7 publish without deltas ("delta_bases": 0), so that they show the whole-file
# patch each is about.
# Each stage prints what it does, what the publisher wrote, the game's output with bx.log,
# game_info.log and the core's call log, the server's requests, and its checks. A table
# closes the job; the exit status is 1 when any stage did not do what it says.
#   tools/main_job.sh <build-out-dir>
# The build-out dir holds OrvexBridge.dll, SampleHost.exe, TestCore.dll and TestHost.exe. The
# caller sets up WINEPREFIX/WINEDEBUG and the wineserver; WINE_LOADER picks the wine loader.
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
RUN_LIMIT=120 # seconds for one start of the sample game under wine

# The tree is signed, and the game ships the bridge built with that key's public half: the
# test build's own key and keyed bridge.
SIGNING_KEY="$(dirname "$OUT")/tests/signing_key/signing_key.pem"
SIGNED_BRIDGE="$OUT/signed/OrvexBridge.dll"
for f in "$SIGNING_KEY" "$SIGNED_BRIDGE"; do
  if [ ! -f "$f" ]; then
    echo "main_job: missing $f (build the x86_64 tree with tests: it makes the key and the keyed bridge)" >&2
    exit 2
  fi
done

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

source "$ROOT/tools/main_job/update_server.sh"
source "$ROOT/tools/main_job/installation.sh"
source "$ROOT/tools/main_job/report.sh"

WORK="$(dirname "$OUT")/sample_game"
RELEASES="$WORK/releases" # the studio's release folders, one per version
TREE="$WORK/tree"         # what the publisher writes and nginx serves
GAME="$WORK/game"         # the player's game folder
BASE_URL="http://127.0.0.1:$UPDATE_PORT"

trap stop_update_server EXIT
trap 'exit 130' INT TERM

# publish <name> <config JSON> [base URL]: one run of the publisher into the served tree.
# The config's "base_url" is added here: this server, unless another is given.
publish() {
  printf '{"base_url": "%s", %s\n' "${3:-$BASE_URL}" "${2#\{}" >"$WORK/$1.json"
  echo "publisher config ($1.json): $(tr -s ' \n' ' ' <"$WORK/$1.json" | sed 's/ $//')"
  local rc=0
  python3 "$ROOT/tools/publish/orvex_publish.py" --config "$WORK/$1.json" \
    --releases "$RELEASES" --out "$TREE" --signing-key "$SIGNING_KEY" >"$WORK/$1.report" 2>&1 || rc=1
  sed 's/^/    /' "$WORK/$1.report"
  return "$rc"
}

# start_game <stage>: one start of the sample game in the game folder; its output is kept in
# $WORK/<stage>.out. The core's call log is removed first so that it shows this start only.
start_game() {
  GAME_OUT="$WORK/$1.out"
  rm -f "$GAME/bin/core_calls.log"
  echo "sample game (in $GAME):"
  (cd "$GAME" && timeout -k 5 "$RUN_LIMIT" "$WINE" "$OUT/SampleHost.exe") </dev/null |
    tr -d '\r' >"$GAME_OUT"
  local rc=${PIPESTATUS[0]}
  sed 's/^/    /' "$GAME_OUT"
  if [ "$rc" = 124 ]; then echo "    (did not finish within $RUN_LIMIT s)"; fi
  GAME_RC=$rc
}

core_started() {
  grep -q '^core module attached' "$GAME_OUT" && [ -f "$GAME/bin/core_calls.log" ]
}
core_not_loaded() {
  grep -q '^core module did not start' "$GAME_OUT" && [ ! -e "$GAME/bin/core_calls.log" ]
}
game_finished() { [ "$GAME_RC" = 0 ]; }

# The requests of this stage, from nginx's access log.
show_requests() {
  echo "update server's requests (nginx access log):"
  server_requests_since "$MARK" | sed 's/^/    /'
}
requests_to() { server_requests_since "$MARK" | grep -c "^GET $1" || true; }
requested() { [ "$(requests_to "$1")" -gt 0 ]; }
requested_with_status() { server_requests_since "$MARK" | grep -q "^GET $1.* -> $2,"; }
not_requested() { [ "$(requests_to "$1")" = 0 ]; }
game_matches_release() {
  [ "$(listing_of_game "$GAME")" = "$(listing_of_release "$RELEASES/$1")" ]
}
version_is() { [ "$(installed_version "$GAME")" = "$1" ]; }

# What the bridge did this stage, as the server saw it and the installation shows it.
describe_action() {
  local before="$1" after files
  after="$(installed_version "$GAME")"
  files="$(requests_to /files/)"
  if requested /packages/; then
    echo "full package: $before -> $after"
  elif requested /deltas/ && ! requested /patches/; then
    echo "delta: $before -> $after"
  elif requested /patches/ && [ "$before" = "$after" ]; then
    echo "patch rolled back: still $after"
  elif requested /patches/; then
    echo "patch: $before -> $after"
  elif [ "$files" -gt 0 ]; then
    echo "check list: $files file(s) repaired"
  else
    echo "check list: nothing to repair"
  fi
}

outcome() {
  if core_started; then
    echo "core started"
  elif core_not_loaded; then
    echo "core not loaded"
  else
    echo "sample game failed"
  fi
}

# begin_run: marks the access log and notes the version, so a stage shows only its own.
begin_run() {
  MARK="$(server_log_mark)"
  VERSION_BEFORE="$(installed_version "$GAME")"
}
end_run() {
  echo
  show_requests
  echo
  show_installation "installation after:" "$GAME"
  echo
  echo "checks:"
  check "the sample game ran to its end" game_finished
  check "the server sent a Content-Length with every reply" server_replies_have_length "$MARK"
  check "the bridge read the manifest" requested /version.xml?tick=
  check "the bridge read the manifest's signature" requested /version.xml.sig?tick=
}

stage_no_installation() {
  stage_begin "no installation" \
    "The studio publishes release 1.0.0. The player's game folder holds only" \
    "OrvexBridge.dll: the bridge must download the full package, unpack it into bin\\," \
    "record 1.0.0 in version.bin, and start the core module bin\\Orvex.dll."
  check "the publisher wrote the tree" publish 1-first-release '{"versions": ["1.0.0"]}'
  rm -rf "$GAME"
  mkdir -p "$GAME"
  cp "$SIGNED_BRIDGE" "$GAME/"
  show_installation "installation before:" "$GAME"
  begin_run
  start_game 1
  end_run
  check "the full package was downloaded (?rand= query)" requested "/packages/[0-9a-f]*\.7z?rand="
  check "bin\\ holds exactly release 1.0.0" game_matches_release 1.0.0
  check "version.bin records 1.0.0" version_is 1.0.0
  check "the downloaded package was removed" test ! -e "$GAME/orvex_packet.7z"
  check "the core module started" core_started
  stage_end "$(describe_action "$VERSION_BEFORE")" "$(outcome)"
}

stage_patch() {
  stage_begin "new release: patch" \
    "The studio publishes 1.0.1 and serves game 7's area 30, group 2 the patch from" \
    "1.0.0 (\"archive\": \"patch\"): the changed level.dat and the new maps\\one.map." \
    "The next start must apply it, record 1.0.1, and start the core module."
  check "the publisher wrote the tree" publish 2-patch '{"delta_bases": 0, "versions": ["1.0.0", "1.0.1"],
    "games": [{"id": 7, "areas": [{"area": 30, "group": 2, "archive": "patch"}]}]}'
  # What a network attacker records now, to replay in the last stage.
  mkdir -p "$WORK/recorded"
  cp "$TREE/version.xml" "$TREE/version.xml.sig" "$WORK/recorded/"
  begin_run
  start_game 2
  end_run
  check "the patch was downloaded, not the package" requested "/patches/[0-9a-f]*\.7z?tick="
  check "no full package was downloaded" not_requested /packages/
  check "bin\\ holds exactly release 1.0.1" game_matches_release 1.0.1
  check "version.bin records 1.0.1" version_is 1.0.1
  check "the core module started" core_started
  stage_end "$(describe_action "$VERSION_BEFORE")" "$(outcome)"
}

stage_repair() {
  stage_begin "damaged file: repair" \
    "Something overwrote bin\\data\\level.dat. The installed version equals the" \
    "manifest's, so the bridge must read the check list, find the one damaged file," \
    "download only its good copy from files/, and start the core module."
  printf 'damaged by a crashed write\n' >"$GAME/bin/data/level.dat"
  local good
  good="$(sha256sum <"$RELEASES/1.0.1/data/level.dat" | cut -d' ' -f1)"
  echo "bin\\data\\level.dat md5 now: $(md5sum <"$GAME/bin/data/level.dat" | cut -d' ' -f1)"
  echo "the check list wants:       $(md5sum <"$RELEASES/1.0.1/data/level.dat" | cut -d' ' -f1)"
  begin_run
  start_game 3
  end_run
  check "the check list was read" requested "/g_file_check_list.xml?tick="
  check "only the damaged file's good copy was downloaded" \
    test "$(requests_to /files/)" = 1 -a "$(requests_to "/files/$good ")" = 1
  check "bin\\ holds exactly release 1.0.1 again" game_matches_release 1.0.1
  check "the core module started" core_started
  stage_end "$(describe_action "$VERSION_BEFORE")" "$(outcome)"
}

stage_rollback() {
  stage_begin "held file: rollback" \
    "The studio publishes 1.0.2 as a patch (it changes level.dat and settings.ini and" \
    "adds maps\\two.map). Another program holds bin\\data\\level.dat open for reading" \
    "only, so it cannot be replaced: the patch must roll back whole, leaving the" \
    "installation as it was at 1.0.1, and the core module of 1.0.1 starts."
  check "the publisher wrote the tree" publish 4-patch-held \
    '{"delta_bases": 0, "versions": ["1.0.0", "1.0.1", "1.0.2"],
    "games": [{"id": 7, "areas": [{"area": 30, "group": 2, "archive": "patch"}]}]}'
  local before holder
  before="$(listing_of_game "$GAME")"
  show_installation "installation before:" "$GAME"
  rm -f "$GAME/held" "$GAME/release"
  # The holder is the test host in a process of its own; it keeps the file open until the
  # main job creates "release", at most 5 minutes. It gets about 30 s to open it.
  (cd "$GAME" && "$WINE" "$OUT/TestHost.exe" holder.out 'hold:bin\data\level.dat' \
    signal:held waitfile:release:300000) </dev/null >/dev/null 2>&1 &
  holder=$!
  for _ in $(seq 300); do
    [ -f "$GAME/held" ] && break
    kill -0 "$holder" 2>/dev/null || break
    sleep 0.1
  done
  echo "another program (TestHost.exe) opened bin\\data\\level.dat for reading only:" \
    "$(tr -d '\r' <"$GAME/holder.out" 2>/dev/null | head -n1)"
  begin_run
  start_game 4
  touch "$GAME/release"
  wait "$holder" 2>/dev/null
  end_run
  check "the other program held the file" grep -q '^hold 1' "$GAME/holder.out"
  check "the patch was downloaded" requested "/patches/[0-9a-f]*\.7z?tick="
  check "the installation is exactly as before" test "$before" = "$(listing_of_game "$GAME")"
  check "the file the patch adds is not there" test ! -e "$GAME/bin/data/maps/two.map"
  check "version.bin still records 1.0.1" version_is 1.0.1
  check "the core module started" core_started
  stage_end "$(describe_action "$VERSION_BEFORE")" "$(outcome)"
}

stage_start_off() {
  stage_begin "start=\"0\": core stays off" \
    "The studio turns the core module off for game 7's area 30, group 2 (\"start\": false," \
    "so start=\"0\" in version.xml), still serving the patch to 1.0.2. The bridge must still" \
    "update (nothing holds level.dat now, so the patch applies), and the core module must" \
    "never load: the game renders its frames without it."
  check "the publisher wrote the tree" publish 5-start-off \
    '{"delta_bases": 0, "versions": ["1.0.0", "1.0.1", "1.0.2"],
    "games": [{"id": 7, "areas": [{"area": 30, "group": 2, "archive": "patch", "start": false}]}]}'
  check "version.xml says start=\"0\" for area 30, group 2" \
    grep -q '<area name="30" group="2" start="0"' "$TREE/version.xml"
  begin_run
  start_game 5
  end_run
  check "the update ran to its end: patched to 1.0.2" game_matches_release 1.0.2
  check "version.bin records 1.0.2" version_is 1.0.2
  check "the core module never loaded" core_not_loaded
  stage_end "$(describe_action "$VERSION_BEFORE")" "$(outcome)"
}

manifest_serial() { sed -n 's/.*<root [^>]*serial="\([0-9]*\)".*/\1/p' "$1" | head -n1; }

stage_replay() {
  local old new before
  old="$(manifest_serial "$WORK/recorded/version.xml")"
  new="$(manifest_serial "$TREE/version.xml")"
  stage_begin "replayed manifest: refused" \
    "A network attacker serves the manifest and signature recorded at stage 2" \
    "(serial $old, validly signed, offering 1.0.1) in place of the current one" \
    "(serial $new). The bridge has accepted serial $new, so it must refuse the" \
    "older one: nothing downloaded, the installation left at 1.0.2, and the core module" \
    "starts as when no manifest is read."
  mkdir -p "$WORK/current"
  cp "$TREE/version.xml" "$TREE/version.xml.sig" "$WORK/current/"
  cp "$WORK/recorded/version.xml" "$WORK/recorded/version.xml.sig" "$TREE/"
  before="$(listing_of_game "$GAME")"
  begin_run
  start_game 6
  end_run
  check "bx.log names the refusal ($old < $new)" \
    grep -qF "update version serial refused ($old < $new)" "$GAME/bx.log"
  check "no package, patch or file was downloaded" \
    test "$(requests_to /packages/)$(requests_to /patches/)$(requests_to /files/)" = 000
  check "the installation is exactly as before" test "$before" = "$(listing_of_game "$GAME")"
  check "version.bin still records 1.0.2" version_is 1.0.2
  check "the core module started" core_started
  stage_end "replay refused: still $(installed_version "$GAME")" "$(outcome)"
  # The attacker is gone: the studio's own manifest is served again.
  cp "$WORK/current/version.xml" "$WORK/current/version.xml.sig" "$TREE/"
}

# The poor connection: a proxy on this port in front of nginx cuts the patch's replies.
PROXY_PORT=8010

stage_resume() {
  stage_begin "cut download: resumed" \
    "The studio publishes 1.0.3, whose patch carries 8 MiB of new video, with its payload" \
    "URLs on port $PROXY_PORT: a proxy there forwards to nginx but cuts each of the first" \
    "three replies for the patch after 30% of its bytes. The first start tries three times," \
    "each continuing where the last stopped, and keeps what it got; the game starts on" \
    "1.0.2. The next start asks nginx only for the rest (Range, answered 206) and installs 1.0.3."
  check "the publisher wrote the tree" publish 7-resume \
    '{"delta_bases": 0, "versions": ["1.0.0", "1.0.1", "1.0.2", "1.0.3"],
    "games": [{"id": 7, "areas": [{"area": 30, "group": 2, "archive": "patch"}]}]}' \
    "http://127.0.0.1:$PROXY_PORT"
  local proxy_log="$WORK/proxy.log" proxy patch_bytes
  : >"$proxy_log"
  python3 "$ROOT/tools/main_job/cutting_proxy.py" "$PROXY_PORT" "$UPDATE_PORT" 0.3 3 \
    "$proxy_log" </dev/null >/dev/null 2>&1 &
  proxy=$!
  for _ in $(seq 100); do
    timeout 1 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PROXY_PORT" 2>/dev/null && break
    sleep 0.1
  done
  patch_bytes=$(stat -c %s "$(ls -S "$TREE"/patches/*.7z | head -n1)")

  begin_run
  start_game 7a
  end_run
  echo "proxy log:"
  sed 's/^/    /' "$proxy_log"
  check "three patch replies were cut" test "$(grep -c '^cut /patches/' "$proxy_log")" = 3
  check "the later attempts continued with a Range" \
    test "$(grep -c '^GET /patches/.* Range: bytes=[1-9]' "$proxy_log")" = 2
  check "version.bin still records 1.0.2" version_is 1.0.2
  check "the core module started" core_started

  : >"$proxy_log"
  begin_run
  start_game 7b
  end_run
  echo "proxy log:"
  sed 's/^/    /' "$proxy_log"
  kill "$proxy" 2>/dev/null
  wait "$proxy" 2>/dev/null
  check "the patch was resumed, not started over (Range, 206)" \
    grep -q '^GET /patches/.* Range: bytes=[1-9]' "$proxy_log"
  check "nginx answered the rest with 206" requested_with_status "/patches/" 206
  check "no full package was downloaded" not_requested /packages/
  check "bin\\ holds exactly release 1.0.3" game_matches_release 1.0.3
  check "version.bin records 1.0.3" version_is 1.0.3
  check "the core module started" core_started
  echo "patch: $patch_bytes bytes"
  stage_end "patch resumed: 1.0.2 -> $(installed_version "$GAME")" "$(outcome)"
}

# The publisher's report row for the delta from one version to another: its size beside the
# whole-file patch's.
delta_report_row() { grep -m1 "$1 delta from $2:" "$WORK/$3.report"; }
delta_bytes() { sed -n 's/.*; \([0-9]*\) bytes beside .* of \([0-9]*\) bytes.*/\1 \2/p'; }

stage_delta() {
  stage_begin "new release: delta" \
    "The studio publishes 1.0.4, which changes a few scattered KiB of 1.0.3's 8 MiB video and" \
    "the level data, with deltas from the three releases before it (the default). The game on" \
    "1.0.3 downloads the delta from 1.0.3 only, rebuilds the changed files from its own, checks" \
    "each against the delta's digests and installs them as a patch would; the patch is never" \
    "fetched. The publisher's report shows the delta's size beside the patch's."
  check "the publisher wrote the tree" publish 8-delta \
    '{"versions": ["1.0.0", "1.0.1", "1.0.2", "1.0.3", "1.0.4"],
    "games": [{"id": 7, "areas": [{"area": 30, "group": 2, "archive": "patch"}]}]}'
  local row sizes
  row="$(delta_report_row 1.0.4 1.0.3 8-delta)"
  sizes="$(delta_bytes <<<"$row")"
  begin_run
  start_game 8
  end_run
  check "the delta was downloaded" requested /deltas/
  check "the whole-file patch was not" not_requested /patches/
  check "no full package was downloaded" not_requested /packages/
  check "bin\\ holds exactly release 1.0.4" game_matches_release 1.0.4
  check "version.bin records 1.0.4" version_is 1.0.4
  check "the core module started" core_started
  check "the delta is at most a fifth of the patch" \
    awk -v d="${sizes% *}" -v p="${sizes#* }" 'BEGIN { exit !(d > 0 && d * 5 <= p) }'
  echo "publisher: $row"
  stage_end "$(describe_action "$VERSION_BEFORE"), $(awk -v d="${sizes% *}" -v p="${sizes#* }" \
    'BEGIN { if (p > 0) printf "%.1f%% of the patch", 100 * d / p; else printf "no delta reported" }')" "$(outcome)"
}

rm -rf "$WORK"
mkdir -p "$WORK" "$TREE"
make_releases "$RELEASES" "$OUT/TestCore.dll"
echo "releases: $RELEASES (1.0.0 to 1.0.4)"
start_update_server "$TREE" "$WORK/nginx" || exit 1
echo "update server: nginx $("$NGINX" -v 2>&1 | sed 's|.*/||') on $BASE_URL, serving $TREE"
echo "    config $WORK/nginx/nginx.conf, logs in $WORK/nginx/logs"

stage_no_installation
stage_patch
stage_repair
stage_rollback
stage_start_off
stage_replay
stage_resume
stage_delta

stop_update_server
print_summary
