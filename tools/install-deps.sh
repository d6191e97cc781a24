#!/usr/bin/env bash
# Installs the Debian packages Orvandel needs to build, run and test, skipping what is there.
set -euo pipefail
packages=(
  build-essential pkg-config cmake ninja-build clang python3
  libsdl2-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev libpng-dev pngcheck nlohmann-json3-dev
  xvfb xauth x11-utils xdotool imagemagick libx11-dev
  time
)
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
