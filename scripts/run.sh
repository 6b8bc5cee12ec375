#!/usr/bin/env bash
# Installs what is missing, builds, and starts Kelvane Pro 3 in the foreground.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
fi
exec "$build/Kelvane Pro 3.app/Contents/MacOS/Kelvane Pro 3" "$@"
