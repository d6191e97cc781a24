#!/usr/bin/env bash
# Builds Orvandel and runs every test: the release build's unit, session, real-window and browser
# tests (the page built first by the web preset), the same unit and session tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, and a short fuzzing run. Expects the packages
# of tools/install-deps.sh --test.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n== %s ==\n' "$*"; }

step "the page for the browser (WebAssembly)"
cmake --preset web
cmake --build --preset web

step "release build and tests (window tests under Xvfb and the page in Chromium included)"
cmake --preset release
cmake --build --preset release
ctest --preset release

step "AddressSanitizer and UndefinedBehaviorSanitizer build and tests"
cmake --preset sanitize
cmake --build --preset sanitize
ctest --preset sanitize

if [ -x tools/run-fuzz.sh ]; then
  step "fuzzing (short run)"
  tools/run-fuzz.sh 60
fi

step "all tests passed"
