#!/usr/bin/env bash
# Installs the Debian packages Orvandel needs, skipping what is there.
#   tools/install-deps.sh          what building and running the programs need
#   tools/install-deps.sh --test   that, and what the tests, benchmarks, fuzzing and the Python
#                                  module (built in the release preset) need
set -euo pipefail
packages=(
  build-essential pkg-config cmake ninja-build
  libsdl2-dev zlib1g-dev
)
case "${1:-}" in
  "") ;;
  --test)
    packages+=(
      clang clang-format python3
      python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-pil python3-matplotlib
      libgtest-dev libgmock-dev libbenchmark-dev libpng-dev pngcheck libssl-dev nlohmann-json3-dev
      xvfb xauth x11-utils x11-xkb-utils xdotool imagemagick libx11-dev openbox
      time man-db groff-base desktop-file-utils parallel
      emscripten node-acorn chromium
    )
    ;;
  *)
    echo "usage: tools/install-deps.sh [--test]" >&2
    exit 2
    ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
