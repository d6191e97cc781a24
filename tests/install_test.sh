#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what a packager and a user would:
# every program runs from there and tells the build's version, every manual page formats
# without a warning, the desktop entry is valid and finds its program and its icon (in every
# size of the icon theme), the documentation and licences are there, and the README's library
# example builds against the installed package (CMake and pkg-config) and writes the batch
# generator's map; so does the README's Python example with the installed module, when there
# is one.
# usage: install_test.sh BUILD_DIR VERSION [LINK_FLAGS [PYTHON PYTHON_DIR]]
#   LINK_FLAGS: what a program linking the installed library needs besides (the sanitizers')
#   PYTHON, PYTHON_DIR: the interpreter the module is built for, and its folder below the prefix
set -euo pipefail
build=${1:?build directory}
version=${2:?version}
link_flags=${3:-}
python=${4:-}
python_dir=${5:-}
readme="$(dirname "$0")/../README.md"
prefix=$(mktemp -d "${TMPDIR:-/tmp}/orvandel-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" >"$prefix/install.log" 2>&1 || fail "cmake --install: $(cat "$prefix/install.log")"
programs=(orvandel orvandel-batch orvandel-headless)

for program in "${programs[@]}"; do
  [ -x "$prefix/bin/$program" ] || fail "$program is not installed"
  # orvandel-headless has no --version until its --help offers one.
  if [ "$program" != orvandel-headless ] || "$prefix/bin/$program" --help | grep -q -- --version; then
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$program" --version) || fail "$program --version failed"
    [ "$out" = "$program $version" ] || fail "$program --version says '$out', expected '$program $version'"
  fi
  page="$prefix/share/man/man1/$program.1"
  [ -f "$page" ] || fail "no manual page for $program"
  # man -l formats the page; --warnings makes groff report every mistake in it.
  text=$(MANWIDTH=80 man --warnings -l "$page" 2>"$prefix/man.err") || fail "man -l $program.1 failed"
  [ ! -s "$prefix/man.err" ] || fail "man -l $program.1: $(cat "$prefix/man.err")"
  grep -q "^NAME" <<<"$text" && grep -q "$program - " <<<"$text" || fail "$program.1 has no NAME line"
  grep -q "Orvandel $version" <<<"$text" || fail "$program.1 does not name version $version"
done

# orvandel answers --help without a display, and refuses anything else with exit status 2.
env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/orvandel" --help | grep -q "^usage: orvandel" || fail "orvandel --help"
set +e
env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/orvandel" --bogus >"$prefix/out" 2>"$prefix/err"
status=$?
set -e
[ "$status" -eq 2 ] && [ ! -s "$prefix/out" ] && grep -q "^usage: orvandel" "$prefix/err" ||
  fail "orvandel --bogus: status $status, stderr '$(cat "$prefix/err")'"

desktop="$prefix/share/applications/orvandel.desktop"
[ -f "$desktop" ] || fail "no desktop entry"
report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $report"
[ -z "$report" ] || fail "desktop-file-validate: $report"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$prefix/bin/$exec_name" ] || fail "the desktop entry starts '$exec_name', which is not installed"
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16 22 24 32 48 64 128 256; do
  icon="$prefix/share/icons/hicolor/${size}x$size/apps/$icon_name.png"
  [ "$(identify -format '%m %wx%h' "$icon" 2>/dev/null)" = "PNG ${size}x$size" ] ||
    fail "no $size x $size PNG icon at $icon"
done

for doc in README.md CHANGELOG.md LICENSE font/OFL.txt examples/world.ini examples/python/seed_sheet.py; do
  [ -s "$prefix/share/doc/orvandel/$doc" ] || fail "$doc is not installed"
done
# The installed README shows its pictures: every picture it links is there beside it.
for picture in $(grep -o '](docs/[^)]*\.png)' "$prefix/share/doc/orvandel/README.md" | sed 's/^](//; s/)$//'); do
  [ -s "$prefix/share/doc/orvandel/$picture" ] || fail "the README's $picture is not installed beside it"
done
grep -q "^## $version" "$prefix/share/doc/orvandel/CHANGELOG.md" || fail "CHANGELOG.md has no entry for $version"
# The library: the README's example program and its CMakeLists.txt (the first cpp and cmake
# blocks of its "Library" section), built against the installed package, write example.png,
# which must be the map orvandel-batch writes, pixel for pixel. Then the same with pkg-config.
[ -f "$prefix/include/orvandel/orvandel.hpp" ] || fail "the library's header is not installed"
pc=$(find "$prefix" -name orvandel.pc)
[ -n "$pc" ] || fail "orvandel.pc is not installed"
[ -n "$(find "$prefix" -name OrvandelConfig.cmake)" ] && [ -n "$(find "$prefix" -name OrvandelConfigVersion.cmake)" ] ||
  fail "the CMake package files are not installed"
libdir=$(dirname "$(dirname "$pc")")
example="$prefix/example"
mkdir -p "$example"
# block SECTION LANGUAGE: the first block of that language in the README's section.
block() {
  awk -v section="## $1" -v fence="\`\`\`$2" '/^## / { inside = ($0 == section) } inside && $0 == fence { on = 1; next }
    on && /^```$/ { exit } on { print }' "$readme"
}
block Library cpp >"$example/example.cpp"
block Library cmake >"$example/CMakeLists.txt"
[ -s "$example/example.cpp" ] && [ -s "$example/CMakeLists.txt" ] ||
  fail "README.md has no cpp and cmake blocks in its Library section"
cmake -S "$example" -B "$example/build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_EXE_LINKER_FLAGS="$link_flags" \
  >"$prefix/example.log" 2>&1 || fail "the example does not configure: $(cat "$prefix/example.log")"
cmake --build "$example/build" >"$prefix/example.log" 2>&1 || fail "the example does not build: $(cat "$prefix/example.log")"
(cd "$example" && LD_LIBRARY_PATH="$libdir" ./build/example >out.txt) || fail "the example failed"
grep -q "^400 x 400, seed 42: changed to water" "$example/out.txt" || fail "the example printed '$(cat "$example/out.txt")'"
"$prefix/bin/orvandel-batch" --seed 42 --generations 100 --quiet --out "$example/x.png"
pixels() { convert "$1" -depth 8 rgba:- | sha256sum; }
[ "$(pixels "$example/x.png")" = "$(pixels "$example/example.png")" ] ||
  fail "the example's example.png is not orvandel-batch's map"
# The 64 x 64 icon is the map the README says.
"$prefix/bin/orvandel-batch" --seed 2026 --size 64x64 --generations 60 --quiet --out "$example/icon.png"
[ "$(pixels "$example/icon.png")" = "$(pixels "$prefix/share/icons/hicolor/64x64/apps/$icon_name.png")" ] ||
  fail "the 64 x 64 icon is not orvandel-batch's map of seed 2026"
rm "$example/example.png"
# shellcheck disable=SC2046 # pkg-config's words are meant to be split
c++ -std=c++17 -o "$example/by-pkg-config" "$example/example.cpp" \
  $(PKG_CONFIG_PATH="$(dirname "$pc")" pkg-config --cflags --libs orvandel) $link_flags 2>"$prefix/example.log" ||
  fail "the example does not build with pkg-config: $(cat "$prefix/example.log")"
(cd "$example" && LD_LIBRARY_PATH="$libdir" ./by-pkg-config >/dev/null) || fail "the example built with pkg-config failed"
[ "$(pixels "$example/x.png")" = "$(pixels "$example/example.png")" ] ||
  fail "the example built with pkg-config does not write orvandel-batch's map"

# The Python module, in the interpreter's site folder below the prefix, beside its stub: the
# README's Python example run with it writes the batch's map too.
if [ -n "$python" ]; then
  site="$prefix/$python_dir"
  [ -f "$site/orvandel.pyi" ] || fail "orvandel.pyi is not installed in $python_dir"
  block Python python >"$example/example.py"
  [ -s "$example/example.py" ] || fail "README.md has no python block in its Python section"
  rm -f "$example/example.png"
  (cd "$example" && PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 "$python" example.py >out.txt 2>&1) ||
    fail "the Python example failed: $(cat "$example/out.txt")"
  out=$(cd "$example" && PYTHONPATH="$site" "$python" -c 'import orvandel; print(orvandel.__version__, orvandel.__file__)')
  [[ "$out" == "$version $site/orvandel."*.so ]] || fail "import orvandel from $site says '$out'"
  [ "$(pixels "$example/x.png")" = "$(pixels "$example/example.png")" ] ||
    fail "the Python example's example.png is not orvandel-batch's map"
fi

echo "ok: installed and checked in $prefix"
