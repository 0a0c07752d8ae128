#!/usr/bin/env bash
# Installs the cross toolchain, wine, fixture tools and the dependency sources.
# Idempotent: every step checks first and does nothing when its work is done.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEPS="${ORVEX_DEPS_DIR:-$ROOT/.deps}"
export DEBIAN_FRONTEND=noninteractive

SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi

need_update=0
apt_updated=0
apt_update() {
  if [ "$apt_updated" = 0 ]; then
    $SUDO apt-get update -qq
    apt_updated=1
  fi
}

# deb-src lines for the two source packages.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ &&
  ! grep -qs '^deb-src' /etc/apt/sources.list; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $SUDO tee -a /etc/apt/sources.list >/dev/null
  fi
  need_update=1
fi

# The shipped DLL is i686. Tests run the same code built for x86_64 under wine64: the
# machines here cannot execute 32-bit programs, so 32-bit wine does not start. The i686
# build's tests run in an emulated x86 machine, whose image debootstrap and e2fsprogs make
# (tools/i686-vm.sh).
# nginx is the main job's update server, started on its own config, never as a service.
# openssl makes and uses the signing keys of the publisher and the signed-update tests.
packages=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 7zip zstd python3 curl cmake googletest dpkg-dev nginx openssl
  qemu-system-x86 debootstrap e2fsprogs)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -gt 0 ] || [ "$need_update" = 1 ]; then
  apt_update
fi
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  # Debian starts and enables nginx's own service on installation; the main job runs its own.
  if [[ " ${missing[*]} " == *" nginx "* ]] && [ -d /run/systemd/system ]; then
    $SUDO systemctl disable --now nginx >/dev/null 2>&1 || true
  fi
fi

# Source packages, unpacked once under .deps/.
mkdir -p "$DEPS"
fetch_source() {
  local pkg="$1" marker="$DEPS/$1.src"
  if [ -f "$marker" ] && [ -d "$(cat "$marker")" ]; then return; fi
  apt_update
  # A mirror may list a version (a security update) whose files it does not serve: then the
  # other versions it lists, newest first.
  local version
  (cd "$DEPS" && rm -rf "$pkg"-* && apt-get source -qq "$pkg" >/dev/null) ||
    for version in $(apt-cache showsrc "$pkg" | sed -n 's/^Version: //p' | sort -rV); do
      (cd "$DEPS" && rm -rf "$pkg"-* && apt-get source -qq "$pkg=$version" >/dev/null) && break
    done
  local dir
  dir="$(find "$DEPS" -maxdepth 1 -type d -name "$pkg-*" | head -n1)"
  [ -n "$dir" ] || { echo "source package $pkg did not unpack" >&2; exit 1; }
  echo "$dir" >"$marker"
}
fetch_source tinyxml
fetch_source 7zip
fetch_source libzstd
