#!/bin/sh
# Installs the Debian packages the build and the tests need, when run as root;
# otherwise names what is missing. Also makes sure a comma-decimal locale
# exists, since the tests prove the parsers are proof against it.
set -eu
packages="cmake ninja-build g++ clang libclang-rt-dev libgtest-dev libgmock-dev libbenchmark-dev locales tzdata python3 iproute2"
# The install and package tests need the first three (without them they are
# skipped), scripts/check-format.sh the last.
optional="dpkg-dev file pkg-config clang-format"
missing=""
missing_optional=""
for p in $packages $optional; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && continue
  case " $optional " in
    *" $p "*) missing_optional="$missing_optional $p" ;;
    *) missing="$missing $p" ;;
  esac
done
need_locale=0
locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$' || need_locale=1

if [ -z "$missing$missing_optional" ] && [ "$need_locale" = 0 ]; then
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  [ -n "$missing_optional" ] && echo "Missing packages:$missing_optional: without them the install and package tests are skipped and scripts/check-format.sh cannot run (sudo apt-get install$missing_optional)" >&2
  [ -n "$missing" ] && echo "Missing packages:$missing (install them with: sudo apt-get install$missing)" >&2
  [ "$need_locale" = 1 ] && echo "Missing locale de_DE.UTF-8: the locale tests will be skipped (enable it in /etc/locale.gen and run locale-gen)." >&2
  [ -n "$missing" ] && exit 1
  exit 0
fi
missing="$missing$missing_optional"
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq $missing >/dev/null
fi
if [ "$need_locale" = 1 ]; then
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
