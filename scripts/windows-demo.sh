#!/bin/sh
# make windows-demo: the chain of make demo as Windows programs under Wine
# (ostrelsim.exe, trackhost.exe running zelostrel.dll, trackview.exe), on
# loopback (UDP port 5000, storage "trackhost") for some seconds (10 unless
# --seconds S is given); Ctrl-C ends it earlier. 32-bit programs where this
# machine runs them, 64-bit ones otherwise, as make windows-test does.
#
#   sh scripts/windows-demo.sh [--seconds S]   (make windows-demo ARGS="--seconds S")
set -eu
cd "$(dirname "$0")/.."

usage() { echo "usage: scripts/windows-demo.sh [--seconds S]"; }

seconds=10
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) [ $# -ge 2 ] || { usage >&2; exit 2; }; seconds=$2; shift 2 ;;
    --seconds=*) seconds=${1#--seconds=}; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "windows-demo: unknown argument \"$1\"" >&2; usage >&2; exit 2 ;;
  esac
done
case "$seconds" in
  ""|*[!0-9.]*|.|*.*.*) echo "windows-demo: --seconds needs a number such as 30 or 2.5, not \"$seconds\"" >&2; exit 2 ;;
esac

sh scripts/install-windows-deps.sh test
preset=windows-test
loader=wine
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  preset=windows-test-x64
  loader=/usr/lib/wine/wine64
  echo "windows-demo: this machine runs no 32-bit programs; the demo runs 64-bit Windows programs"
fi
[ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset"
cmake --build --preset "$preset" --target trackhost trackview ostrelsim zelostrel

bin=build/$preset/bin
demo=build/$preset/demo
mkdir -p "$demo"
export WINEPREFIX="$PWD/build/$preset/wineprefix" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
# The configuration names the DLL by its Windows path (with forward slashes,
# which Windows takes as well).
module=$("$loader" winepath -w "$PWD/$bin/zelostrel.dll" 2>/dev/null | tr -d '\r' | tr '\\' /)
sed "s#\.\./build/default/device/libzelostrel\.so#$module#" examples/simulator.conf > "$demo/simulator.conf"

sim_pid=""
host_pid=""
stop_all() {
  trap - EXIT INT TERM
  # The host first (Wine turns the signal into the Ctrl-C it stops on), then
  # the simulator; both end by themselves when their time is up.
  for pid in $host_pid $sim_pid; do
    kill -INT "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "windows-demo: ended; logs in $demo/trackhost.log and $demo/ostrelsim.log"
}
trap stop_all EXIT
trap 'exit 0' INT TERM

"$loader" "$bin/ostrelsim.exe" --to 127.0.0.1:5000 --seconds "$seconds" > "$demo/ostrelsim.log" 2>&1 &
sim_pid=$!
"$loader" "$bin/trackhost.exe" --seconds "$seconds" "$demo/simulator.conf" > "$demo/trackhost.log" 2>&1 &
host_pid=$!

# Wait (at most twenty seconds: Wine starts slowly) until the host has its
# storage and device up.
tries=0
until grep -q "INFO: running" "$demo/trackhost.log" 2>/dev/null; do
  if ! kill -0 "$host_pid" 2>/dev/null; then
    echo "windows-demo: the host did not start:" >&2
    cat "$demo/trackhost.log" >&2
    host_pid=""
    exit 1
  fi
  tries=$((tries + 1))
  if [ "$tries" -ge 100 ]; then
    echo "windows-demo: the host did not come up within twenty seconds; see $demo/trackhost.log" >&2
    exit 1
  fi
  sleep 0.2
done

# The monitor in the foreground: it ends when the host ends (or on Ctrl-C).
# Wine's console ignores the escape sequences that redraw the table in place
# (a Windows 10 console acts on them), so it writes into a pipe instead: one
# table a second, one after the other.
"$loader" "$bin/trackview.exe" --interval 1000 | cat || true
