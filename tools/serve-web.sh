#!/usr/bin/env bash
# Serves the page the web preset built (build/web/web/site) on this machine only, with Debian's
# Python: http://127.0.0.1:8080/ (WebAssembly as application/wasm, which Python's table knows).
#   tools/serve-web.sh [PORT] [SITE]     SITE: another copy of the page, such as an installed one
#                                        (PREFIX/share/orvandel/web)
set -euo pipefail
cd "$(dirname "$0")/.."
port=${1:-8080}
site=${2:-build/web/web/site}
if [ ! -f "$site/orvandel.wasm" ]; then
  echo "serve-web.sh: no page in $site: build it with cmake --preset web && cmake --build --preset web" >&2
  exit 1
fi
echo "Orvandel in the browser: http://127.0.0.1:$port/ (Ctrl-C ends it)"
exec /usr/bin/python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site"
