#!/bin/sh
# Configures and builds the default configuration with each build option
# flipped from its default, one at a time, each in build/options/<option>/.
# (The presets are built by make: build, asan, fuzz, windows.)
set -eu
cd "$(dirname "$0")/.."
for flip in ZELOSTREL_SANITIZE=ON ZELOSTREL_FUZZ=ON ZELOSTREL_BENCH=OFF ZELOSTREL_TESTS=OFF ZELOSTREL_TOOLS=OFF; do
  dir=build/options/$(echo "${flip#ZELOSTREL_}" | tr 'A-Z=' 'a-z-')
  echo "== $flip ($dir)"
  cmake --preset default -B "$dir" -D"$flip" >/dev/null
  cmake --build "$dir"
done
