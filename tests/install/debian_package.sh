#!/bin/sh
# The Debian package, built by CPack from the build folder: its control fields and contents; as root also installed,
# its host run by hand on the packaged configuration, removed (only the configuration stays) and purged.
#   debian_package.sh BUILD_DIR      (exit 77: skipped)
set -eu
build=$1
for tool in dpkg-deb dpkg-shlibdeps file cpack flock unshare; do
  command -v $tool > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d /tmp/zelostrel-deb-XXXXXX) installed=
# A failed run takes out what it installed, so that the next run is not skipped.
trap '[ -z "$installed" ] || dpkg --purge zelostrel > /dev/null 2>&1 || true; rm -rf "$work"' EXIT
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
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' > "$work/contents"
! grep -v -e '^\./usr/' -e "^.$conffile\$" "$work/contents" || fail "files outside /usr"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ".$conffile" | grep -qx "device cave /usr/lib/zelostrel/libzelostrel.so" \
  || fail "$conffile does not name the installed module"

[ "$(id -u)" = 0 ] || { echo "SKIP: contents and control fields are right; installing the package needs root"; exit 77; }
exec 9> /tmp/zelostrel-package-test.lock && flock 9  # one installing test at a time on this machine
if dpkg-query -W zelostrel > /dev/null 2>&1; then
  echo "SKIP: a zelostrel package is installed on this machine; it is left alone"; exit 77
fi
run_dpkg() {  # dpkg waits for no one: while another installation holds its lock, try again (100 s at most)
  for try in $(seq 100); do dpkg "$@" > "$work/dpkg.log" 2>&1 && return; grep -q lock "$work/dpkg.log" || break; sleep 1; done
  fail "dpkg $*: $(cat "$work/dpkg.log")"
}
installed=yes && run_dpkg -i "$deb"
# The installed host for a second, with a network and /dev/shm of its own (its port and storage may be in use here).
unshare --net --mount sh -c "mount -t tmpfs none /dev/shm && exec /usr/bin/trackhost --seconds 1 $conffile" \
  > "$work/host.log" 2>&1 || fail "the installed host: $(cat "$work/host.log")"
grep -q 'stopped after [1-9][0-9]* cycle(s); storage "trackhost" removed' "$work/host.log" || fail "$(cat "$work/host.log")"
run_dpkg -r zelostrel
[ "$(dpkg-query -W -f='${Status}' zelostrel)" = "deinstall ok config-files" ] || fail "status after dpkg -r"
left=$(sed 's/^\.//' "$work/contents" | while read -r file; do [ ! -e "$file" ] || echo "$file"; done)
[ "$left" = $conffile ] || fail "dpkg -r left not just $conffile: $left"
run_dpkg --purge zelostrel && installed= && [ ! -e /etc/zelostrel ] || fail "dpkg --purge left /etc/zelostrel"
