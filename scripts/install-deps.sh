#!/usr/bin/env bash
# Installs every Debian package the project builds, runs and tests with.
# Does nothing (and touches no network) when all of them are already present.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config ccache lld
  # libraries
  qt6-base-dev libplist-dev libcjson-dev libpstreams-dev libmd-dev libblkid-dev
  libbtrfsutil-dev libsecret-1-dev libssl-dev libicu-dev libqt6svg6
  # outside tools the system drives
  rsync tar gzip openssl coreutils xorriso e2fsprogs btrfs-progs xfsprogs util-linux mount
  # test and tool packages
  sudo gnome-keyring libsecret-tools dbus-daemon dbus-bin openssh-server openssh-client sshfs
  fuse3 exfat-fuse exfatprogs gdisk libglib2.0-bin tzdata xvfb xauth fonts-dejavu-core
  python3-dbus procps
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
else
  sudo_cmd=()
fi

# Package scripts must not start services (sshd, dbus) on this machine.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
  "${sudo_cmd[@]}" chmod 0755 "$policy"
  trap '"${sudo_cmd[@]}" rm -f "$policy"' EXIT
fi

echo "install-deps: installing ${#missing[@]} package(s): ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q >/dev/null
install() {
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    --no-install-recommends --no-upgrade "${missing[@]}" >/tmp/kv-install-deps.log 2>&1
}
if ! install; then
  echo "install-deps: first attempt failed, retrying" >&2
  "${sudo_cmd[@]}" apt-get update -q >/dev/null
  install || { tail -n 40 /tmp/kv-install-deps.log >&2; exit 1; }
fi
echo "install-deps: done"
