# shellcheck shell=bash
# The main job's view of a game folder and of the studio's release folders. Sourced by
# tools/main_job.sh.
#   make_releases <releases dir> <core dll>   five versions of the core's installation
#   listing_of_game <game>                    "md5  bin/<file>" per installed file, sorted
#   listing_of_release <release dir>          the same lines for a release folder
#   installed_version <game>                  the version in version.bin, or "(none)"
#   show_installation <title> <game>

# 1.0.1 changes level.dat and adds a map; 1.0.2 changes level.dat and settings.ini and adds
# a second map; 1.0.3 adds 8 MiB of video that does not compress, so its patch is large;
# 1.0.4 changes 16 scattered KiB of that video and the level data, a few bytes each.
# Orvex.dll is the same test core in each.
make_releases() {
  local releases="$1" core="$2" v
  rm -rf "$releases"
  for v in 1.0.0 1.0.1 1.0.2; do
    mkdir -p "$releases/$v/data"
    cp "$core" "$releases/$v/Orvex.dll"
    printf 'level data of version %s\n' "$v" >"$releases/$v/data/level.dat"
  done
  printf 'settings of version 1.0.0\n' >"$releases/1.0.0/data/settings.ini"
  cp "$releases/1.0.0/data/settings.ini" "$releases/1.0.1/data/settings.ini"
  printf 'settings of version 1.0.2\n' >"$releases/1.0.2/data/settings.ini"
  mkdir -p "$releases/1.0.1/data/maps" "$releases/1.0.2/data/maps"
  printf 'map one, new in 1.0.1\n' >"$releases/1.0.1/data/maps/one.map"
  cp "$releases/1.0.1/data/maps/one.map" "$releases/1.0.2/data/maps/one.map"
  printf 'map two, new in 1.0.2\n' >"$releases/1.0.2/data/maps/two.map"
  cp -r "$releases/1.0.2" "$releases/1.0.3"
  mkdir -p "$releases/1.0.3/data/video"
  head -c 8388608 /dev/urandom >"$releases/1.0.3/data/video/intro.bin"
  cp -r "$releases/1.0.3" "$releases/1.0.4"
  printf 'level data of version 1.0.4\n' >"$releases/1.0.4/data/level.dat"
  local k
  for k in $(seq 0 15); do
    head -c 1024 /dev/urandom | dd of="$releases/1.0.4/data/video/intro.bin" bs=1024 \
      seek=$((k * 509 + 7)) conv=notrunc status=none
  done
}

# listing <dir> <prefix>: the MD5 and name of every file below dir but the test core's own
# call log.
listing() {
  [ -d "$1" ] || return 0
  (cd "$1" && find . -type f ! -name core_calls.log | sed 's|^\./||' | LC_ALL=C sort |
    while read -r f; do
      printf '%s  %s%s\n' "$(md5sum <"$f" | cut -d' ' -f1)" "$2" "$f"
    done)
}

listing_of_game() { listing "$1/bin" bin/; }
listing_of_release() { listing "$1" bin/; }

installed_version() {
  local v=""
  if [ -f "$1/version.bin" ]; then
    v="$(tr -d '\r' <"$1/version.bin" | sed -n 's/^version=//p' | head -n1)"
  fi
  echo "${v:-(none)}"
}

show_installation() {
  echo "$1"
  local files
  files="$(listing_of_game "$2")"
  if [ -n "$files" ]; then
    printf '%s\n' "$files" | sed 's/^/    /'
  else
    echo "    (no bin directory)"
  fi
  echo "    version.bin: $(installed_version "$2")"
}
