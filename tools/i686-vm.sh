#!/usr/bin/env bash
# An emulated x86 machine with 32-bit wine, for the i686 build's test programs: these
# machines refuse 32-bit code, but a full-system emulator runs it.
#   i686-vm.sh image                  builds the machine's image once, into the cache
#   i686-vm.sh run [-o OUT] DIR... -- COMMAND
#                                     boots it, runs COMMAND with each host DIR shared at
#                                     its own path (its writes stay in the machine), exits
#                                     with COMMAND's status; what COMMAND leaves in the
#                                     guest's /run/control/out is copied to OUT
#   i686-vm.sh test ROOT BUILD [RE]   runs every test that ctest lists in the i686 build
#                                     directory BUILD (or those RE matches, as ctest -R),
#                                     with the checkout ROOT and BUILD shared; those labelled
#                                     host_side run on this machine first
# ORVEX_VM_CACHE is the cache folder (default ~/.cache/orvex-i686-vm), with one image for
# each version of the recipe below. Every boot starts from
# the same image (writes go to a throw-away overlay); the guest has no network device and
# its own loopback, so the tests' servers on port 8008 meet nobody else's.
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
CACHE="${ORVEX_VM_CACHE:-$HOME/.cache/orvex-i686-vm}"
VM_LIMIT="${ORVEX_VM_LIMIT:-3600}" # seconds for one boot, whatever the command does
SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi

log() { echo "i686-vm: $*" >&2; }

# The machine's own Debian mirror: the first "deb" source of a release suite (no "-").
apt_mirror() {
  local uri=""
  if compgen -G "/etc/apt/sources.list.d/*.sources" >/dev/null; then
    uri="$(awk '
      FNR == 1 || /^[[:space:]]*$/ { if (deb && rel && uri != "") { print uri; exit } deb = rel = 0; uri = "" }
      /^Types:/ { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
      /^URIs:/ { uri = $2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i !~ /-/) rel = 1 }
      END { if (deb && rel && uri != "") print uri }' /etc/apt/sources.list.d/*.sources | head -n1)"
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri="$(sed -n 's/\[[^]]*\]//; s/^deb[[:space:]]\+\([^[:space:]]\+\)[[:space:]]\+[^-[:space:]]\+[[:space:]].*/\1/p' \
      /etc/apt/sources.list | head -n1)"
  fi
  [ -n "$uri" ] || { log "no Debian mirror in the apt sources"; exit 1; }
  echo "$uri"
}

# PID 1 of the guest: mounts the shares that the control share lists, starts a persistent
# wineserver (the prefix is made at the image's first boot), runs the command with its
# output on the serial console, leaves the exit status in the control share, powers off.
# Each share is seen through an overlay whose changes stay in the guest's memory: writes
# there (the fixture scripts' archives and trees) are many times faster than through the
# share, and the host's folders stay as they were. Only the control share is written.
write_init() {
  cat >"$1" <<'EOF'
#!/bin/bash
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
export WINEPREFIX=/root/.wine WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sys /sys
mountpoint -q /dev || mount -t devtmpfs dev /dev
echo "i686-vm: init after $(cut -d' ' -f1 /proc/uptime) s"
mkdir -p /dev/shm /dev/pts
mount -t tmpfs shm /dev/shm
mount -t devpts pts /dev/pts
mount -t tmpfs tmp /tmp
hostname orvex-vm
ip link set lo up
modprobe -a 9pnet_virtio 9p overlay
# Without cache=loose, a DLL over 512 KiB mapped from the share reads zeros past that point.
p9() { mkdir -p "$2" && mount -t 9p -o trans=virtio,version=9p2000.L,cache=loose,msize=262144 "$1" "$2"; }
p9 control /run/control
mkdir -p /run/changes
mount -t tmpfs -o size=3g changes /run/changes
while IFS=$'\t' read -r tag dir; do
  p9 "$tag" "/run/shares/$tag"
  mkdir -p "/run/changes/$tag/upper" "/run/changes/$tag/work" "$dir"
  mount -t overlay overlay -o "lowerdir=/run/shares/$tag,upperdir=/run/changes/$tag/upper,workdir=/run/changes/$tag/work" "$dir"
done </run/control/shares
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1 # its dump of a killed program's objects is noise
/usr/lib/wine/wine cmd /c exit </dev/null >/dev/null 2>&1
echo "i686-vm: ready after $(cut -d' ' -f1 /proc/uptime) s"
(cd /root && bash /run/control/command </dev/null)
echo $? >/run/control/status.tmp
wineserver -k
sync
mv /run/control/status.tmp /run/control/status
sync
echo o >/proc/sysrq-trigger
sleep 60
EOF
  chmod 0755 "$1"
}

build_image() {
  local mirror work root
  mirror="$(apt_mirror)"
  work="$CACHE/$KEY.build"
  root="$work/root"
  $SUDO rm -rf "$work"
  mkdir -p "$work"
  log "building the image from $mirror (once; a few minutes)"
  local start=$SECONDS
  $SUDO debootstrap --variant=minbase --arch=amd64 bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 || {
    tail -n 30 "$work/debootstrap.log" >&2
    exit 1
  }
  # No resume device to wait for at boot, and no services started in the chroot.
  $SUDO mkdir -p "$root/etc/initramfs-tools/conf.d"
  echo "RESUME=none" | $SUDO tee "$root/etc/initramfs-tools/conf.d/resume" >/dev/null
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$root/usr/sbin/policy-rc.d" >/dev/null
  $SUDO chmod 0755 "$root/usr/sbin/policy-rc.d"
  # The kernel runs 32-bit code; wine32 is the i386 wine; the rest is what the fixture
  # scripts, the publisher and the runner use.
  $SUDO unshare -m --propagation private bash -euo pipefail -c '
    mount -t proc proc "$1/proc"
    chroot "$1" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
      DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 bash -euo pipefail -c "
        dpkg --add-architecture i386
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends linux-image-amd64 kmod udev \
          iproute2 procps python3 7zip zstd openssl wine wine32:i386
        apt-get clean
        rm -rf /var/lib/apt/lists/*"
    umount "$1/proc"' chroot "$root" >"$work/packages.log" 2>&1 || {
    tail -n 30 "$work/packages.log" >&2
    exit 1
  }
  $SUDO rm -f "$root/usr/sbin/policy-rc.d"
  write_init "$work/init"
  $SUDO install -m 0755 "$work/init" "$root/sbin/orvex-init"
  $SUDO sh -c "cp '$root'/boot/vmlinuz-* '$work/vmlinuz' && cp '$root'/boot/initrd.img-* '$work/initrd.img'"
  $SUDO chown "$(id -u):$(id -g)" "$work/vmlinuz" "$work/initrd.img"
  # Room for the wine prefix and the tests' scratch files; the file stays sparse.
  truncate -s 8G "$work/disk.ext4"
  $SUDO mkfs.ext4 -q -F -L orvex -d "$root" "$work/disk.ext4"
  $SUDO rm -rf "$root"
  log "image made in $((SECONDS - start)) s; first boot makes the wine prefix"
  start=$SECONDS
  local ctl="$work/control"
  mkdir -p "$ctl"
  : >"$ctl/shares"
  # The persistent server writes the registry out when it is stopped.
  echo 'wineserver -k && wineserver -w && test -f "$WINEPREFIX/system.reg"' >"$ctl/command"
  boot "$work" "$ctl" off
  [ "$(cat "$ctl/status" 2>/dev/null)" = 0 ] || { log "the first boot made no wine prefix"; exit 1; }
  rm -rf "$ctl"
  log "wine prefix made in $((SECONDS - start)) s"
  # Older images of other recipes go; a run still using one keeps its open file.
  find "$CACHE" -mindepth 1 -maxdepth 1 ! -name "$KEY" ! -name "$KEY.build" ! -name .lock \
    -exec $SUDO rm -rf {} +
  mv "$work" "$IMAGE"
}

ensure_image() {
  mkdir -p "$CACHE"
  exec 9>"$CACHE/.lock"
  flock 9 # one image build at a time; later callers find it made
  if [ ! -f "$IMAGE/disk.ext4" ]; then build_image; fi
  flock -u 9
}

# boot DIR CONTROL SNAPSHOT: the machine of the image in DIR, with the control share and
# the shares it lists, until the guest powers off or VM_LIMIT passes.
boot() {
  local dir="$1" ctl="$2" snapshot="$3" args=() tag path
  while IFS=$'\t' read -r tag path; do
    args+=(-fsdev "local,id=$tag,path=${path//,/,,},security_model=none"
      -device "virtio-9p-pci,fsdev=$tag,mount_tag=$tag")
  done <"$ctl/shares"
  # smap=off: with it, qemu's TCG makes the guest kernel oops at 32-bit wine's iret.
  # mitigations=off: a guest without a network that runs only our tests; the kernel's
  # speculation barriers only cost emulated time there (about a tenth of a test's).
  timeout -k 10 "$VM_LIMIT" qemu-system-x86_64 -machine q35 -accel tcg -cpu max,smap=off -smp 2 \
    -m 4G -nographic -no-reboot -nic none \
    -kernel "$dir/vmlinuz" -initrd "$dir/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 quiet loglevel=3 panic=-1 mitigations=off init=/sbin/orvex-init" \
    -drive "file=$dir/disk.ext4,format=raw,if=virtio,snapshot=$snapshot" \
    -fsdev "local,id=control,path=${ctl//,/,,},security_model=none" \
    -device virtio-9p-pci,fsdev=control,mount_tag=control \
    "${args[@]}" </dev/null | sed -u 's/\r$//' || true
}

# run [-o OUT] DIR... -- COMMAND
run() {
  local dirs=() out=""
  if [ "${1:-}" = "-o" ]; then
    out="$2"
    shift 2
  fi
  while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
    dirs+=("$(cd "$1" && pwd)")
    shift
  done
  [ "${1:-}" = "--" ] || { log "usage: i686-vm.sh run [-o OUT] DIR... -- COMMAND"; exit 2; }
  shift
  ensure_image
  local ctl n=0 d
  ctl="$(mktemp -d "${TMPDIR:-/tmp}/orvex-vm.XXXXXX")"
  CONTROL="$ctl"
  trap 'rm -rf "$CONTROL"' EXIT
  : >"$ctl/shares"
  mkdir "$ctl/out"
  # Parents before children, so a share inside another is mounted on top of it.
  while IFS= read -r d; do
    printf 'share%d\t%s\n' "$n" "$d" >>"$ctl/shares"
    n=$((n + 1))
  done < <(printf '%s\n' "${dirs[@]}" | awk '{ print length($0) "\t" $0 }' | sort -n -s | cut -f2-)
  # The command sees this side's ORVEX_* settings (limits, kept test directories).
  {
    local var
    for var in $(compgen -e | grep '^ORVEX_' || true); do printf 'export %s=%q\n' "$var" "${!var}"; done
    printf '%q ' "$@"
  } >"$ctl/command"
  local start=$SECONDS
  boot "$IMAGE" "$ctl" on
  log "machine ran $((SECONDS - start)) s"
  if [ -n "$out" ]; then
    rm -rf "$out"
    cp -r "$ctl/out" "$out"
  fi
  if [ ! -f "$ctl/status" ]; then
    log "the machine stopped without the command's status"
    return 125
  fi
  return "$(cat "$ctl/status")"
}

test_suite() {
  local root build
  root="$(cd "$1" && pwd)"
  build="$(cd "$2" && pwd)"
  ctest --test-dir "$build" --show-only=json-v1 >"$build/vm-tests.json"
  # Tests labelled host_side (fixture scripts, the publisher) do not depend on the build's
  # machine: they run here, many times faster, and the guest reads their results.
  rm -f "$build/vm-host-side.xml"
  ctest --test-dir "$build" -L host_side --output-on-failure \
    --output-junit "$build/vm-host-side.xml" || true
  run -o "$build/vm-logs" "$root" "$build" -- python3 "$HERE/ctest_json_run.py" \
    "$build/vm-tests.json" /run/control/out "${@:3}"
}

# The image's key: the hash of the functions that make it, so changing the recipe (the
# mirror's choice, the packages, the guest's init) builds a new one and nothing else does.
KEY="$(declare -f apt_mirror write_init build_image | sha256sum | cut -c1-16)"
IMAGE="$CACHE/$KEY"

case "${1:-}" in
  image) ensure_image ;;
  run)
    shift
    run "$@"
    ;;
  test)
    [ "$#" = 3 ] || [ "$#" = 4 ] || { log "usage: i686-vm.sh test ROOT BUILD [REGEX]"; exit 2; }
    shift
    test_suite "$@"
    ;;
  *)
    log "usage: i686-vm.sh image | run [-o OUT] DIR... -- COMMAND | test ROOT BUILD [REGEX]"
    exit 2
    ;;
esac
