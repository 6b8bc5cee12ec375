#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test on a private session bus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
cd "$build"
exec dbus-run-session -- env QT_QPA_PLATFORM=offscreen \
  ctest -j"$(nproc)" --output-on-failure --timeout 600 "$@"
