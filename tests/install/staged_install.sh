#!/bin/sh
# The installed tree (DESTDIR) as a user meets it: the installed trackhost, module and ostrelsim
# run; read_storage.py and read_storage.c (through find_package, pkg-config and as C++) read alike.
#   staged_install.sh BUILD_DIR SOURCE_DIR      (exit 77: skipped)
set -eu
build=$1 source=$2
for tool in python3 pkg-config cc c++; do
  command -v $tool > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache CMAKE_PROJECT_VERSION) prefix=$(cache CMAKE_INSTALL_PREFIX) libdir=$(cache CMAKE_INSTALL_LIBDIR)
work=$(mktemp -d /tmp/zelostrel-install-XXXXXX) root= sim= host=
trap 'kill $sim $host 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$work/stage cmake --install "$build" > "$work/install.log"
root=$work/stage$prefix
for program in trackhost trackview ostrelsim; do
  [ "$("$root/bin/$program" --version)" = "$program $version" ] || fail "$program --version"
done

# The installed example names the installed module; here that lies under the staging folder.
example=$root/share/zelostrel/examples/simulator.conf
grep -qx "device cave $prefix/$libdir/zelostrel/libzelostrel.so" "$example" || fail "$(grep ^device "$example")"
port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
storage=zt-install-$$
sed -e "s#^device cave $prefix/#device cave $root/#" -e "s#^storage .*#storage $storage#" \
    -e "s#port 5000 #port $port #" "$example" > "$work/host.conf"
"$root/bin/trackhost" --check "$work/host.conf" > /dev/null || fail "--check refused the example"
"$root/bin/ostrelsim" --to "127.0.0.1:$port" > "$work/ostrelsim.log" 2>&1 & sim=$!
"$root/bin/trackhost" "$work/host.conf" > "$work/trackhost.log" 2>&1 & host=$!
python_reader="python3 $root/share/zelostrel/read_storage.py --storage $storage --controllers"
tries=0
until [ "$($python_reader 2>/dev/null | grep -c '^tracker .* time [1-9]')" = 4 ]; do
  tries=$((tries + 1)) && [ $tries -lt 100 ] && sleep 0.1 || fail "no records within 10 s: $(cat "$work/trackhost.log")"
done
# Without frames the records stay as they are, so every reader sees the same.
kill $sim; wait $sim || sim=
sleep 0.5
$python_reader > "$work/python.txt"

cmake -S "$source/tests/install/reader" -B "$work/by-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$root" \
  -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF -DCMAKE_C_FLAGS="-std=c99 -Wall -Wextra -Werror -pedantic" \
  > "$work/by-cmake.log" 2>&1 && cmake --build "$work/by-cmake" >> "$work/by-cmake.log" 2>&1 \
  || fail "the reader through find_package: $(cat "$work/by-cmake.log")"
cflags=$(PKG_CONFIG_PATH="$root/share/pkgconfig" pkg-config --cflags zelostrel)
cc -std=c99 -Wall -Wextra -Werror -pedantic $cflags "$source/tests/install/read_storage.c" -o "$work/by-pkg-config"
c++ -x c++ -std=c++17 -Wall -Wextra -Werror $cflags "$source/tests/install/read_storage.c" -o "$work/as-cxx"
for reader in "$work/by-cmake/read_storage_c" "$work/by-pkg-config" "$work/as-cxx"; do
  "$reader" "$storage" > "$work/c.txt" || fail "$reader"
  diff "$work/python.txt" "$work/c.txt" || fail "$reader disagrees with read_storage.py"
done

if command -v systemd-analyze > /dev/null; then
  sed "s#$prefix/#$root/#g" "$root/lib/systemd/system/trackhost@.service" > "$work/trackhost@.service"
  systemd-analyze verify "$work/trackhost@.service" || fail "systemd-analyze verify trackhost@.service"
fi
kill -TERM $host && wait $host || fail "trackhost did not end cleanly: $(cat "$work/trackhost.log")"
host=
[ ! -e "/dev/shm/$storage" ] || fail "the storage is left behind"
cat "$work/python.txt"
