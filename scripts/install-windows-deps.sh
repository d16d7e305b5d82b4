#!/bin/sh
# Installs what the 32-bit Windows cross-build (make windows) needs, when run
# as root; otherwise names what is missing. Exits non-zero when the cross
# compiler cannot be had, so callers can skip the Windows build.
set -eu
packages="cmake ninja-build g++-mingw-w64-i686"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "Missing packages:$missing (install them with: sudo apt-get install$missing)" >&2
  exit 1
fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq $missing >/dev/null
