#!/usr/bin/env bash
# The project's one entry point. Idempotent: installs what is missing, configures, builds,
# then runs the main job, the tests or the benchmarks.
#   ./build.sh main   the sample game against a local update server
#   ./build.sh test   every test
#   ./build.sh bench  the benchmarks beside their reference tools
#   ./build.sh build  configure and build only
# ORVEX_BUILD_DIR picks another build directory (default: build/ in the checkout).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
JOB="${1:-}"
case "$JOB" in
  main | test | bench | build) ;;
  *)
    echo "usage: $0 main|test|bench|build" >&2
    exit 2
    ;;
esac

bash "$ROOT/tools/install-deps.sh"

BUILD="${ORVEX_BUILD_DIR:-$ROOT/build}"
UPDATE_HOST="${ORVEX_UPDATE_HOST:-127.0.0.1}"

# The shipped DLL is i686. The same code is also built for x86_64, which is what the tests
# and the main job run under wine64: these machines cannot execute 32-bit programs.
configure_and_build() {
  local arch="$1"
  shift
  cmake -S "$ROOT" -B "$BUILD/$arch" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$arch-mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$BUILD/$arch/out" \
    -DORVEX_UPDATE_HOST="$UPDATE_HOST" "$@" >/dev/null
  cmake --build "$BUILD/$arch" -j"$(nproc)"
  # The product as a studio takes it: DLL, debug file, import library, header, package config.
  cmake --install "$BUILD/$arch" --prefix "$BUILD/install/$arch" >/dev/null
}

configure_and_build i686 -DORVEX_BUILD_TESTS=OFF
configure_and_build x86_64 -DORVEX_BUILD_TESTS=ON \
  -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64 \
  -DORVEX_I686_BRIDGE="$BUILD/i686/out/OrvexBridge.dll"
if [ "$JOB" = build ]; then exit 0; fi

# A wine prefix of the build's own, with a persistent, warmed server: wine's service
# processes must not inherit the test runner's output pipe, or the runner never returns.
export WINEPREFIX="$BUILD/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINE_LOADER=/usr/lib/wine/wine64
mkdir -p "$WINEPREFIX" # the server refuses a prefix directory that does not exist yet
wineserver -p </dev/null >/dev/null 2>&1 || true # already running for this prefix
"$WINE_LOADER" cmd /c exit </dev/null >/dev/null 2>&1
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT

if [ "$JOB" = test ]; then
  cd "$BUILD/x86_64"
  ctest --output-on-failure -j2
elif [ "$JOB" = bench ]; then
  bash "$ROOT/bench/run.sh" "$BUILD/x86_64/out"
else
  bash "$ROOT/tools/main_job.sh" "$BUILD/x86_64/out"
fi
