# Helpers for driving the real window under a virtual X display, as a person would.
# Sourced by the window tests; every wait is bounded, so that a test fails instead of hanging.

set -euo pipefail

: "${ORVANDEL:?path of the orvandel program}"
: "${ORVANDEL_HEADLESS_PATH:?path of orvandel-headless}"
: "${SEND_CLOSE:?path of the send-close helper}"
CONVERT=/usr/bin/convert
COMPARE=/usr/bin/compare

WORK=$(mktemp -d "${TMPDIR:-/tmp}/orvandel-window-XXXXXX")
XVFB_PID=""
APP_PID=""
WM_PID=""

cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Starts a private X server (24-bit colour, no key auto-repeat) and exports its DISPLAY.
# -noreset: by default the server resets whenever its last client disconnects, and a reset
# closes every connection, also one that is still being set up. The harness polls for the
# window with short xdotool connections, so a poll that ended while orvandel was connecting
# could take orvandel's connection down with it (it then found no display and ended).
start_display() {
  command -v Xvfb >/dev/null || fail "Xvfb is not installed (tools/install-deps.sh --test installs it)"
  local fifo="$WORK/displayfd"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${1:-1024x768}x24" -nolisten tcp -r -noreset 3>"$fifo" 2>"$WORK/xvfb.log" &
  XVFB_PID=$!
  local number
  read -r -t 30 number <"$fifo" || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
  export DISPLAY=":$number"
  unset WAYLAND_DISPLAY
}

# Switches the virtual keyboard to another layout (dk: Æ, Ø and Å on keys of their own).
keyboard_layout() { setxkbmap -display "$DISPLAY" "$1" || fail "no keyboard layout $1"; }

# Starts a window manager (openbox), for what only a window manager does: full screen. Waits
# until it has announced itself on the root window, and then until it manages windows: it
# announces itself early in its start-up, and a window asked to be shown before that start-up
# has ended can wait in its queue, never shown, until another event reaches it, which on a
# display nobody uses may never happen (and orvandel, inside SDL, waits for the window to be
# shown without a time limit). So a probe window is shown first, the root window touched on
# every round meanwhile so that the manager reads its queue; once the probe is on the screen,
# the manager is running.
start_window_manager() {
  command -v openbox >/dev/null || fail "openbox is not installed (tools/install-deps.sh --test installs it)"
  openbox --sm-disable >"$WORK/wm.log" 2>&1 &
  WM_PID=$!
  local announced=""
  for _ in $(seq 1 1000); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && { announced=1; break; }
    sleep 0.01
  done
  [ -n "$announced" ] || fail "the window manager did not start: $(cat "$WORK/wm.log")"
  xev -name orvandel-probe -event structure >/dev/null 2>&1 &
  local probe=$! round
  for round in $(seq 1 1000); do
    if xdotool search --onlyvisible --name '^orvandel-probe$' >/dev/null 2>&1; then
      kill "$probe"
      wait "$probe" 2>/dev/null || true
      return 0
    fi
    xprop -root -f _ORVANDEL_PROBE 32c -set _ORVANDEL_PROBE "$round"
    sleep 0.01
  done
  fail "the window manager never showed a window: $(cat "$WORK/wm.log")"
}

# Starts the window program in directory $1 (default: the work directory) and waits for its window.
# APP_ENV: more for env to start it with (variables, --block-signal=TERM, ...).
APP_ENV=()
start_app() {
  local dir="${1:-$WORK}"
  (cd "$dir" && exec env "${APP_ENV[@]}" SDL_RENDER_DRIVER=software "$ORVANDEL" >"$WORK/app.out" 2>"$WORK/app.err") &
  APP_PID=$!
  WIN=""
  for _ in $(seq 1 1000); do
    WIN=$(xdotool search --onlyvisible --name '^orvandel$' 2>/dev/null | head -n 1 || true)
    [ -n "$WIN" ] && return 0
    kill -0 "$APP_PID" 2>/dev/null || fail "orvandel ended before its window appeared on $DISPLAY: $(cat "$WORK/app.err"; ls -la /tmp/.X11-unix/; cat "$WORK/xvfb.log")"
    sleep 0.01
  done
  fail "no window titled orvandel appeared"
}

# Presses keys in the window (xdotool key names: Up, Return, a, ...). When a key ends the
# program, xdotool may complain that the window is gone: what the program did is checked after.
keys() { xdotool key --window "$WIN" "$@" 2>/dev/null || true; }
# Types text in the window, shifted characters included. A character that the keyboard layout
# lacks makes xdotool bind it to a spare key for a moment, and a program that reads the key
# after the binding is undone gets nothing: type such text with keyboard_layout set first.
typed() { xdotool type --window "$WIN" "$1" 2>/dev/null || true; }
# Asks the window to close, as a window manager's close button does.
close_button() { "$SEND_CLOSE" "$WIN"; }

# Waits up to $1 seconds for the program to end and sets APP_STATUS.
wait_app_exit() {
  local limit=$(( $1 * 100 ))
  for _ in $(seq 1 "$limit"); do
    if ! kill -0 "$APP_PID" 2>/dev/null; then
      set +e
      wait "$APP_PID"
      APP_STATUS=$?
      set -e
      APP_PID=""
      return 0
    fi
    sleep 0.01
  done
  fail "orvandel did not end within $1 s"
}

app_running() { kill -0 "$APP_PID" 2>/dev/null; }

# Sends signal $1 (INT, TERM, HUP) and checks that the program ends at once with 128 + its number.
signal_ends_app() {
  local expected=$(( 128 + $(kill -l "$1") ))
  kill -s "$1" "$APP_PID"
  wait_app_exit 10
  [ "$APP_STATUS" -eq "$expected" ] || fail "SIG$1: exit status $APP_STATUS, expected $expected"
}

# Resizes the window, as a user dragging its border or a tiling window manager does.
resize() { xdotool windowsize "$WIN" "$1" "$2"; }

# Writes picture $1 enlarged $2 times, nearest neighbour, to $3.
scaled() { "$CONVERT" "$1" -alpha off -sample "$(( $2 * 100 ))%" "$3"; }

# Writes picture $1 centred between black bars on a canvas of $2 (WxH) to $3.
in_bars() { "$CONVERT" "$1" -alpha off -background black -gravity center -extent "$2" "$3"; }

# Screenshot of the window's client area as an RGB PNG.
screenshot() { import -silent -window "$WIN" "$1"; }

# Number of pixels in which two pictures differ (alpha ignored).
pixel_difference() {
  "$COMPARE" -metric AE -alpha off "$1" "$2" null: 2>&1 || true
}

# Waits up to $2 seconds until the window shows exactly the picture $1 (the window may be
# mapped before its first frame, and keys take a moment to arrive); fails with the last count.
wait_for_picture() {
  local expected="$1" limit=$(( $2 * 10 )) shot="$WORK/shot.png" diff=""
  for _ in $(seq 1 "$limit"); do
    screenshot "$shot"
    diff=$(pixel_difference "$shot" "$expected")
    [ "$diff" = "0" ] && return 0
    sleep 0.1
  done
  cp "$shot" "${KEEP_SHOTS:-$WORK}/last-shot.png" 2>/dev/null || true
  fail "the window never matched $(basename "$expected") ($diff pixels differ; window $(identify -format '%wx%h' "$shot" 2>/dev/null))"
}

# Waits up to $3 seconds until the region $2 (WxH+X+Y) of the window equals that of picture $1.
wait_for_region() {
  local expected="$WORK/expected-region.png" shot="$WORK/shot.png" region="$WORK/shot-region.png"
  local limit=$(( $3 * 10 )) diff=""
  "$CONVERT" "$1" -alpha off -crop "$2" +repage "$expected"
  for _ in $(seq 1 "$limit"); do
    screenshot "$shot"
    "$CONVERT" "$shot" -crop "$2" +repage "$region"
    diff=$(pixel_difference "$region" "$expected")
    [ "$diff" = "0" ] && return 0
    sleep 0.1
  done
  fail "the window's region $2 never matched ($diff pixels differ)"
}

# Runs the headless program on a key script and writes its final frame buffer to $2.
headless_picture() {
  local script="$WORK/headless.keys"
  printf '%s\n' "$1" >"$script"
  set +e
  (cd "$WORK" && "$ORVANDEL_HEADLESS_PATH" --script "$script" --screen-png "$2" 2>/dev/null)
  local status=$?
  set -e
  [ "$status" -eq 3 ] || fail "the headless run was expected to run out of keys (status $status)"
}
