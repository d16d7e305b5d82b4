#!/bin/sh
# Checks a cross-built Windows DLL or program: it exports exactly the names
# given (a program: none), no more, no fewer, each undecorated (no
# "_name@8"), and imports only DLLs that every Windows has (no MinGW run-time
# DLL, which would have to be shipped beside it).
# Usage: check-windows-dll.sh DLL NAME...   or   check-windows-dll.sh PROGRAM.exe
set -eu
dll=$1
shift
table=$(i686-w64-mingw32-objdump -p "$dll")
# The export name table lists one "[ n] name" line per export.
exports=$(echo "$table" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)
expected=$(printf '%s\n' "$@" | sort)
imports=$(echo "$table" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
status=0
if [ "$exports" != "$expected" ]; then
  echo "$dll exports:" $exports "-- expected exactly:" $expected >&2
  status=1
fi
foreign=$(echo "$imports" | grep -viE '^(kernel32|msvcrt|ws2_32|advapi32|user32|ntdll)\.dll$' || true)
if [ -n "$foreign" ]; then
  echo "$dll imports DLLs that are not the system's:" $foreign >&2
  status=1
fi
[ "$status" = 0 ] && echo "$dll exports exactly:" $exports "; imports:" $imports
exit "$status"
