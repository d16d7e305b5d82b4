#!/bin/sh
# The Debian package, built by CPack from the build folder: its control fields
# and contents. (The installed programs run in staged_install.sh, from the same files.)
#   debian_package.sh BUILD_DIR      (exit 77: skipped)
set -eu
build=$1
for tool in dpkg-deb dpkg-shlibdeps file cpack; do
  command -v $tool > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d /tmp/zelostrel-deb-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work" > "$work/cpack.log" 2>&1 || fail "cpack: $(cat "$work/cpack.log")"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$work/zelostrel_${version}_$(dpkg --print-architecture).deb
conffile=/etc/zelostrel/simulator.conf
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package) $(field Version) $(field Suggests)" = "zelostrel $version python3" ] || fail "$(field Package) $(field Version)"
for library in libc6 libstdc++6; do  # computed from the binaries
  field Depends | grep -q "$library (>= " || fail "Depends: $(field Depends)"
done
[ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = $conffile ] || fail "conffiles"
! dpkg-deb -c "$deb" | awk '{print $6}' | grep -v -e '/$' -e '^\./usr/' -e "^.$conffile\$" || fail "files outside /usr"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ".$conffile" | grep -qx "device cave /usr/lib/zelostrel/libzelostrel.so" \
  || fail "$conffile does not name the installed module"
