#!/bin/sh
# Installs what the Windows builds need, when run as root; otherwise names
# what is missing. Without an argument: the 32-bit DLL (make windows). With
# "test": also the 64-bit cross compiler, GoogleTest's sources and Wine, 32-
# and 64-bit (make windows-test). Exits non-zero when something cannot be
# had, so callers can skip the Windows part.
set -eu
packages="cmake ninja-build g++-mingw-w64-i686-posix"
if [ "${1:-}" = test ]; then
  packages="$packages g++-mingw-w64-x86-64-posix googletest wine wine64 wine32:i386"
fi
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "Missing packages:$missing" >&2
  echo "Install them with: sudo dpkg --add-architecture i386 && sudo apt-get update && sudo apt-get install$missing" >&2
  exit 1
fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
case "$missing" in
  *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ;;
esac
apt-get update -qq
apt-get install -y -qq $missing >/dev/null
