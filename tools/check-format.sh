#!/usr/bin/env bash
# Checks that the tracked C and C++ sources are formatted as .clang-format says, naming every
# line that is not (exit status 1); with --fix, formats them instead. The generated font
# (ui/Font8x16.cpp) stays as tools/font_to_cpp.py writes it. CLANG_FORMAT names the program.
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format}
mode=(--dry-run --Werror)
[ "${1:-}" = --fix ] && mode=(-i)
git ls-files -z '*.cpp' '*.hpp' '*.c' '*.h' ':!:ui/Font8x16.cpp' | xargs -0 "$clang_format" "${mode[@]}"
