#!/bin/sh
# Checks a cross-built Windows DLL: it exports exactly the names given, no
# more, no fewer, and needs none of the MinGW run-time DLLs (which a Windows
# machine does not have). Usage: check-windows-dll.sh DLL NAME...
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
if echo "$imports" | grep -qiE '^(libstdc\+\+|libgcc|libwinpthread)'; then
  echo "$dll needs MinGW run-time DLLs:" $imports >&2
  status=1
fi
[ "$status" = 0 ] && echo "$dll exports exactly:" $exports "; imports:" $imports
exit "$status"
