#!/bin/sh
# Checks every tracked C++ source and header against .clang-format, without
# changing any file; names the files that differ and fails when there are
# any. CLANG_FORMAT picks another binary (default: Debian's clang-format).
set -eu
cd "$(dirname "$0")/.."
format=${CLANG_FORMAT:-clang-format}
if ! command -v "$format" > /dev/null 2>&1; then
  echo "check-format: $format not found (sudo apt-get install clang-format)" >&2
  exit 2
fi
differing=$(git ls-files -- '*.cpp' '*.h' | while IFS= read -r file; do
  "$format" --dry-run --Werror "$file" > /dev/null 2>&1 || echo "$file"
done)
if [ -n "$differing" ]; then
  count=$(echo "$differing" | wc -l)
  echo "check-format: $count file(s) differ from .clang-format ($("$format" --version)):" >&2
  echo "$differing" >&2
  echo "Format them with: $format -i FILE..." >&2
  exit 1
fi
echo "check-format: every tracked *.cpp and *.h file matches .clang-format"
