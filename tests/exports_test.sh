#!/usr/bin/env bash
# The shared library exports the public API and nothing else: every symbol in its dynamic table
# is a name of namespace orvandel (or the type information and virtual table of one of its
# classes), and the API's entry points are among them.
# usage: exports_test.sh LIBRARY
set -euo pipefail
library=${1:?shared library}
symbols=$(nm -D --defined-only "$library" | awk '{print $3}' | c++filt)
[ -n "$symbols" ] || { echo "FAIL: $library exports nothing" >&2; exit 1; }
strays=$(grep -v -E '^((typeinfo|typeinfo name|vtable) for )?orvandel::' <<<"$symbols" || true)
if [ -n "$strays" ]; then
  echo "FAIL: $library exports names outside the API:" >&2
  head -20 <<<"$strays" >&2
  exit 1
fi
for entry in 'orvandel::v[0-9]*::Map::generate(' 'orvandel::v[0-9]*::Settings::Settings()' \
             'orvandel::v[0-9]*::version\(\[abi:cxx11\]\)\?()' 'typeinfo for orvandel::v[0-9]*::FileError'; do
  grep -q "^$entry" <<<"$symbols" || { echo "FAIL: $library lacks $entry" >&2; exit 1; }
done
echo "$(wc -l <<<"$symbols") symbols, all of the API"
