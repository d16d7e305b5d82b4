#!/bin/sh
# The Debian package, built by CPack from the build folder.
#   debian_package.sh BUILD_DIR contents   control fields and contents
#   debian_package.sh BUILD_DIR install    as root: dpkg -i, the installed example checked,
#                                          dpkg -r leaves only the configuration (exit 77: skipped)
# (The installed programs run in staged_install.sh, from the same files.)
set -eu
build=$1 part=$2
for tool in dpkg-deb dpkg-shlibdeps file cpack; do
  command -v $tool > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d /tmp/zelostrel-deb-XXXXXX) installed=
# A failed run takes out what it installed, so that the next run is not skipped.
trap '[ -z "$installed" ] || dpkg --purge zelostrel > /dev/null 2>&1 || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work" > "$work/cpack.log" 2>&1 || fail "cpack: $(cat "$work/cpack.log")"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$work/zelostrel_${version}_$(dpkg --print-architecture).deb
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' > "$work/contents"
conffile=/etc/zelostrel/simulator.conf

if [ "$part" = contents ]; then
  field() { dpkg-deb -f "$deb" "$1"; }
  [ "$(field Package) $(field Version) $(field Suggests)" = "zelostrel $version python3" ] || fail "$(field Package) $(field Version)"
  for library in libc6 libstdc++6; do  # computed from the binaries
    field Depends | grep -q "$library (>= " || fail "Depends: $(field Depends)"
  done
  [ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = $conffile ] || fail "conffiles"
  for file in bin/trackhost bin/trackview bin/ostrelsim lib/zelostrel/libzelostrel.so include/zelostrel/storage.h \
      share/cmake/zelostrel/zelostrelConfig.cmake share/pkgconfig/zelostrel.pc share/zelostrel/read_storage.py \
      share/zelostrel/examples/simulator.conf share/zelostrel/webview/webview.py share/doc/zelostrel/docs/install.md \
      lib/systemd/system/trackhost@.service; do
    grep -qx "./usr/$file" "$work/contents" || fail "/usr/$file is missing"
  done
  ! grep -v -e '^\./usr/' -e "^.$conffile\$" "$work/contents" || fail "files outside /usr"
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ".$conffile" | grep -qx "device cave /usr/lib/zelostrel/libzelostrel.so" \
    || fail "$conffile does not name the installed module"
  exit 0
fi

[ "$(id -u)" = 0 ] || { echo "SKIP: installing the package needs root"; exit 77; }
exec 9> /tmp/zelostrel-package-test.lock && flock 9  # one installing test at a time on this machine
if dpkg-query -W zelostrel > /dev/null 2>&1; then
  echo "SKIP: a zelostrel package is installed on this machine; it is left alone"; exit 77
fi
# dpkg waits for no one: while another installation holds its lock, try again (for 100 s at most).
dpkg_waiting() {
  tries=0
  until dpkg "$@" > "$work/dpkg.log" 2>&1; do
    grep -q "lock" "$work/dpkg.log" && [ $tries -lt 100 ] || return 1
    tries=$((tries + 1)) && sleep 1
  done
}
if ! dpkg_waiting -i "$deb"; then
  grep -q "lock" "$work/dpkg.log" && { echo "SKIP: another installation kept dpkg busy"; exit 77; }
  fail "dpkg -i: $(cat "$work/dpkg.log")"
fi
installed=yes
/usr/bin/trackhost --check $conffile > /dev/null || fail "--check refused $conffile"
if command -v systemd-analyze > /dev/null; then
  systemd-analyze verify /usr/lib/systemd/system/trackhost@.service || fail "systemd-analyze verify"
fi
dpkg_waiting -r zelostrel || fail "dpkg -r: $(cat "$work/dpkg.log")"
[ "$(dpkg-query -W -f='${Status}' zelostrel)" = "deinstall ok config-files" ] || fail "status after dpkg -r"
while read -r file; do
  if [ "$file" = ".$conffile" ]; then [ -e "$conffile" ] || fail "dpkg -r removed $conffile"
  elif [ -e "${file#.}" ]; then fail "dpkg -r left ${file#.}"; fi
done < "$work/contents"
dpkg_waiting --purge zelostrel && installed= && [ ! -e /etc/zelostrel ] || fail "dpkg --purge: $(cat "$work/dpkg.log")"
