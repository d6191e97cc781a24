#!/usr/bin/env bash
# Generations per second with the presets (seed 42) in the real window under a virtual X
# display, next to the headless program on the same machine, both from one build.
# usage: bench/window-rate.sh [BUILD_DIR] [SECONDS]      (default: build/release, 5 seconds)
# Needs Xvfb, xdotool and ImageMagick (tools/install-deps.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/release}" && pwd)
seconds=${2:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/orvandel-rate-XXXXXX")
xvfb_pid="" app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }

# The headless program: the same run stopped after 0 and after N generations.
headless_seconds() {
  printf 'key Up\nkey Enter\ntype 42\nkey Enter\nkey Enter\nwait %s\nkey Space\nkey Enter\ntype n\nkey Enter\n' "$1" \
    >"$work/run.keys"
  local t0 t1
  t0=$(now)
  (cd "$work" && "$build/app/orvandel-headless" --script run.keys)
  t1=$(now)
  calc "$t1 - $t0"
}

# The window: presets, seed 42, then `seconds` of generations, a key, and the report.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -r -noreset 3>"$work/displayfd" 2>"$work/xvfb.log" &
xvfb_pid=$!
read -r -t 10 number <"$work/displayfd"
export DISPLAY=":$number"
unset WAYLAND_DISPLAY
(cd "$work" && exec env SDL_RENDER_DRIVER=software "$build/app/orvandel" >"$work/app.out" 2>"$work/app.err") &
app_pid=$!
win=""
for _ in $(seq 1 1000); do
  win=$(xdotool search --onlyvisible --name '^orvandel$' 2>/dev/null | head -n 1 || true)
  [ -n "$win" ] && break
  sleep 0.01
done
[ -n "$win" ] || { echo "no window" >&2; exit 1; }
xdotool key --window "$win" Up Return
xdotool type --window "$win" 42
xdotool key --window "$win" Return Return
t0=$(now)
sleep "$seconds"
xdotool key --window "$win" space
t1=$(now)
row=""
for _ in $(seq 1 100); do
  import -silent -window "$win" "$work/shot.png"
  row=$("$here/read_row.py" "$work/shot.png" 30)
  case "$row" in *"total cyles."*) break ;; esac
  sleep 0.1
done
cycles=$(echo "$row" | sed -n 's/.* \([0-9][0-9]*\) total cyles\./\1/p')
[ -n "$cycles" ] || { echo "no report: '$row'" >&2; exit 1; }
# The program ends on the last key, so xdotool may find the window gone.
xdotool key --window "$win" Return 2>/dev/null || true
xdotool type --window "$win" n 2>/dev/null || true
xdotool key --window "$win" Return 2>/dev/null || true
wait "$app_pid" || true
app_pid=""
window_rate=$(calc "$cycles / ($t1 - $t0)")

base=$(headless_seconds 0)
full=$(headless_seconds "$cycles")
headless_rate=$(calc "$cycles / ($full - $base)")
printf 'window:   %d generations in %.2f s: %.0f generations/s\n' "$cycles" "$(calc "$t1 - $t0")" "$window_rate"
printf 'headless: %d generations in %.2f s: %.0f generations/s\n' "$cycles" "$(calc "$full - $base")" "$headless_rate"
printf 'window / headless: %.2f\n' "$(calc "$window_rate / $headless_rate")"
