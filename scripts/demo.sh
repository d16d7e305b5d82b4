#!/bin/sh
# make demo: the tracking-system simulator, the host daemon running the
# module, and the live monitor, all on loopback (UDP port 5000, storage
# "trackhost"). Ctrl-C ends it; so does --seconds S. Builds what is missing.
#
#   sh scripts/demo.sh [--seconds S]        (make demo ARGS="--seconds S")
#
# ZELOSTREL_BUILD_DIR picks another build folder than build/default.
set -eu
cd "$(dirname "$0")/.."
BUILD=${ZELOSTREL_BUILD_DIR:-build/default}
DEMO=$BUILD/demo

usage() { echo "usage: scripts/demo.sh [--seconds S]"; }

seconds=""
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) [ $# -ge 2 ] || { usage >&2; exit 2; }; seconds=$2; shift 2 ;;
    --seconds=*) seconds=${1#--seconds=}; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "demo: unknown argument \"$1\"" >&2; usage >&2; exit 2 ;;
  esac
done
case "$seconds" in
  "") ;;
  *[!0-9.]*|.|*.*.*) echo "demo: --seconds needs a number such as 30 or 2.5, not \"$seconds\"" >&2; exit 2 ;;
esac

# Build what is missing (and bring the four programs up to date).
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  sh scripts/install-deps.sh
  if [ "$BUILD" = build/default ]; then
    cmake --preset default
  else
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
fi
cmake --build "$BUILD" --target trackhost trackview ostrelsim zelostrel

mkdir -p "$DEMO"
module=$(cd "$BUILD/device" && pwd)/libzelostrel.so
sed "s#\.\./build/default/device/libzelostrel\.so#$module#" examples/simulator.conf > "$DEMO/simulator.conf"

sim_pid=""
host_pid=""
stop_all() {
  trap - EXIT INT TERM
  # The host first: it stops its device and removes the storage.
  if [ -n "$host_pid" ]; then
    kill -TERM "$host_pid" 2>/dev/null || true
    wait "$host_pid" 2>/dev/null || true
  fi
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  echo "demo: ended; logs in $DEMO/trackhost.log and $DEMO/ostrelsim.log"
}
trap stop_all EXIT
trap 'exit 0' INT TERM

"$BUILD/tools/ostrelsim" --to 127.0.0.1:5000 > "$DEMO/ostrelsim.log" 2>&1 &
sim_pid=$!
if [ -n "$seconds" ]; then
  "$BUILD/host/trackhost" --seconds "$seconds" "$DEMO/simulator.conf" > "$DEMO/trackhost.log" 2>&1 &
else
  "$BUILD/host/trackhost" "$DEMO/simulator.conf" > "$DEMO/trackhost.log" 2>&1 &
fi
host_pid=$!

# Wait (at most ten seconds) until this host has its storage and device up
# (not another host that holds the same storage name).
tries=0
until "$BUILD/tools/trackview" --once 2> /dev/null | grep -q "host process $host_pid\$"; do
  if ! kill -0 "$host_pid" 2>/dev/null; then
    echo "demo: the host did not start:" >&2
    cat "$DEMO/trackhost.log" >&2
    host_pid=""
    exit 1
  fi
  tries=$((tries + 1))
  if [ "$tries" -ge 100 ]; then
    echo "demo: the host did not come up within ten seconds; see $DEMO/trackhost.log" >&2
    exit 1
  fi
  sleep 0.1
done

# The monitor in the foreground: it ends on Ctrl-C, or when the host ends.
"$BUILD/tools/trackview" || true
