#!/usr/bin/env bash
# Configures and builds the whole project into ./build (or $KV_BUILD_DIR).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}
# Let a fresh clone in another folder still hit the compiler cache.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
fi
# Progress lines of a clean build say nothing; warnings and errors still show.
cmake --build "$build" -j"$(nproc)" 2>&1 | grep -vE '^\[[0-9]+/[0-9]+\] '
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] && echo "build: ok ($build)"
exit "$status"
