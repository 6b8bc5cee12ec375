#!/bin/sh
# Runs one test program under an X server of its own: Xvfb picks a free display and writes its
# number to descriptor 3, so parallel tests never collide. The test runs on the xcb platform
# with DISPLAY set; the server is stopped by its recorded pid afterwards, also when the test
# is stopped.
set -u
dir=$(mktemp -d "${TMPDIR:-/tmp}/kv-xvfb.XXXXXX") || exit 1
Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$dir/display" >/dev/null 2>"$dir/xvfb.log" &
xpid=$!
stop() {
  kill "$xpid" 2>/dev/null
  wait "$xpid" 2>/dev/null
  rm -rf "$dir"
}
trap 'stop; exit 143' TERM INT
tries=0
while [ ! -s "$dir/display" ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ] || ! kill -0 "$xpid" 2>/dev/null; then
    echo "xvfb-test: Xvfb did not start" >&2
    cat "$dir/xvfb.log" >&2
    stop
    exit 1
  fi
  sleep 0.05
done
display=$(head -n 1 "$dir/display")
DISPLAY=":$display" QT_QPA_PLATFORM=xcb "$@" &
tpid=$!
trap 'kill "$tpid" 2>/dev/null; stop; exit 143' TERM INT
wait "$tpid"
status=$?
stop
exit "$status"
