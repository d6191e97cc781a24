#!/usr/bin/env bash
# Generations per second with the presets (seed 42) in the real window under a virtual X
# display, next to the headless program on the same machine, both from one build.
# usage: bench/window-rate.sh [BUILD_DIR] [SECONDS] [SCALE]
#   (default: build/release, 5 seconds, scale 1). The window opens at the largest whole
#   multiple of 800 x 600 that fits the screen: SCALE 1 gives a 1024 x 768 screen (window
#   800 x 600), 2 one of 1920 x 1200 (window 1600 x 1200, every pixel shown as 2 x 2).
# Needs Xvfb, xdotool and ImageMagick (tools/install-deps.sh --test).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/release}" && pwd)
seconds=${2:-5}
scale=${3:-1}
case "$scale" in
  1) screen=1024x768 ;;
  2) screen=1920x1200 ;;
  *) echo "SCALE is 1 or 2" >&2; exit 2 ;;
esac
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
# Processor seconds a running process has used so far (user and system).
cpu() { awk -v tick="$(getconf CLK_TCK)" '{ print ($14 + $15) / tick }' "/proc/$1/stat"; }

# The headless program: the same run stopped after 0 and after N generations; prints the
# seconds it took and the processor seconds it used.
headless_seconds() {
  printf 'key Up\nkey Enter\ntype 42\nkey Enter\nkey Enter\nwait %s\nkey Space\nkey Enter\ntype n\nkey Enter\n' "$1" \
    >"$work/run.keys"
  local t0 t1
  t0=$(now)
  (cd "$work" && /usr/bin/time -f '%U %S' -o "$work/time" "$build/app/orvandel-headless" --script run.keys)
  t1=$(now)
  echo "$(calc "$t1 - $t0") $(awk '{ print $1 + $2 }' "$work/time")"
}

# The window: presets, seed 42, then `seconds` of generations, a key, and the report.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -r -noreset 3>"$work/displayfd" 2>"$work/xvfb.log" &
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
size=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p')
xdotool key --window "$win" Up Return
xdotool type --window "$win" 42
xdotool key --window "$win" Return Return
t0=$(now)
cpu0=$(calc "$(cpu "$app_pid") + $(cpu "$xvfb_pid")")
sleep "$seconds"
cpu1=$(calc "$(cpu "$app_pid") + $(cpu "$xvfb_pid")")
xdotool key --window "$win" space
t1=$(now)
row=""
for _ in $(seq 1 100); do
  import -silent -window "$win" "$work/shot.png"
  [ "$scale" = 1 ] || /usr/bin/convert "$work/shot.png" -sample 800x600 "$work/shot.png"
  row=$(/usr/bin/python3 "$here/read_row.py" "$work/shot.png" 30)
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

read -r base base_cpu <<<"$(headless_seconds 0)"
read -r full full_cpu <<<"$(headless_seconds "$cycles")"
headless_rate=$(calc "$cycles / ($full - $base)")
# Processor time per generation: the window program and the X server, which copies every
# refresh to the screen, next to the headless program. Less disturbed by other work on the
# machine than the rates.
window_cpu=$(calc "($cpu1 - $cpu0) * 1e6 / $cycles")
headless_cpu=$(calc "($full_cpu - $base_cpu) * 1e6 / $cycles")
printf 'window %s: %d generations in %.2f s: %.0f generations/s, %.0f us of processor time each (with the X server)\n' \
  "$size" "$cycles" "$(calc "$t1 - $t0")" "$window_rate" "$window_cpu"
printf 'headless: %d generations in %.2f s: %.0f generations/s, %.0f us of processor time each\n' \
  "$cycles" "$(calc "$full - $base")" "$headless_rate" "$headless_cpu"
printf 'window / headless: rate %.2f, processor time %.2f\n' "$(calc "$window_rate / $headless_rate")" \
  "$(calc "$window_cpu / $headless_cpu")"
