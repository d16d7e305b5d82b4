#!/bin/sh
# Lines of the test suite against lines of the product code (tracked files);
# the house keeps tests at a quarter to a third of the code. Informational.
cd "$(dirname "$0")/.."
count() { git ls-files -- "$@" | while read -r f; do [ -f "$f" ] && cat "$f"; done | wc -l; }
product=$(count device link framework calib platform host tools)
tests=$(count tests)
awk -v t="$tests" -v p="$product" 'BEGIN {
  printf "Test lines %d, product lines %d: tests are %.0f%% of the product (house range 25-33%%)\n", t, p, 100 * t / p }'
