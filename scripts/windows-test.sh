#!/bin/sh
# Builds the module's tests as Windows programs and runs them under Wine
# through CTest (make windows-test). They are 32-bit programs, like the
# shipped DLL, where this machine runs 32-bit code; a kernel without it
# (IA-32 emulation off) runs no 32-bit Wine either, and the same tests then
# run as 64-bit Windows programs instead, which is said loudly.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-windows-deps.sh test

preset=windows-test
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  preset=windows-test-x64
  echo "################################################################"
  echo "## This machine runs no 32-bit programs (its kernel has IA-32 ##"
  echo "## emulation off), so Wine cannot start 32-bit Windows ones:  ##"
  echo "## the Windows tests run as 64-bit Windows programs. The      ##"
  echo "## 32-bit DLL is built and checked by make windows.           ##"
  echo "################################################################"
fi
cmake --preset "$preset"
cmake --build --preset "$preset"
# A wineserver that stays up for the whole run, started here with its output
# away from CTest's: one started by a test would hold that test's output
# open until it ended by itself, and CTest would wait for it. The first
# start of Wine also creates the prefix (some seconds): done once here,
# rather than inside the first test's time-out.
export WINEPREFIX="$PWD/build/$preset/wineprefix" WINEDEBUG=-all
loader=wine
[ "$preset" = windows-test-x64 ] && loader=/usr/lib/wine/wine64
mkdir -p "$WINEPREFIX"
# One still up from an earlier run (a windows-demo a moment ago) is waited
# for first: it would not stay up.
/usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -p >/dev/null 2>&1
"$loader" cmd /c exit >/dev/null 2>&1 || true
status=0
ctest --preset "$preset" || status=$?
/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
exit "$status"
