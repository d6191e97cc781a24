#!/usr/bin/env bash
# The real window, driven with xdotool under Xvfb. Usage: window_tests.sh TEST-NAME
source "$(dirname "$0")/lib.sh"

# Choosing "exit" in the menu ends the program with status 0.
test_menu_exit() {
  start_display
  start_app
  keys Down Return
  wait_app_exit 10
  [ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS, expected 0"
}

# The start screen is, pixel for pixel, the headless runner's frame buffer.
test_start_screen_matches_headless() {
  headless_picture "" "$WORK/expected.png"
  start_display
  start_app
  wait_for_picture "$WORK/expected.png" 10
  keys Down Return
  wait_app_exit 10
}

# Typed text, shifted characters included, arrives as the headless script's keys do.
test_typed_text_matches_headless() {
  local text='My "World", v2 & more!'
  headless_picture "key Enter
type $text
key Left
key Left
key Backspace
key Enter" "$WORK/expected.png"
  start_display
  start_app
  keys Return
  typed "$text"
  keys Left Left BackSpace Return
  wait_for_picture "$WORK/expected.png" 10
}

# The close button is a key: it does not close the window; it ends the generation loop and the
# wait after the report like any key press, and the program still ends normally.
test_close_button_acts_as_a_key() {
  headless_picture "key Close
key Up
key Enter
type 7
key Enter
key Enter
key Close
key Close" "$WORK/expected.png"
  start_display
  start_app
  close_button                       # in the menu: a key that changes nothing
  keys Up Return                     # presets
  typed 7
  keys Return Return                 # seed 7, then continue: the generations run
  close_button                       # ends the generation loop
  close_button                       # ends the wait after the report
  # The save question on row 35 shows that both close requests were taken as keys.
  wait_for_region "$WORK/expected.png" 800x16+0+544 10
  app_running || fail "the close button closed the program"
  xdotool search --onlyvisible --name '^orvandel$' >/dev/null || fail "the window was closed"
  typed no
  keys Return
  wait_app_exit 10
  [ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS, expected 0"
}

# Without a display the program says why and fails instead of running invisibly.
test_no_display_is_an_error() {
  set +e
  env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$ORVANDEL" >"$WORK/out" 2>"$WORK/err" </dev/null &
  local pid=$!
  local waited=0
  while kill -0 "$pid" 2>/dev/null && [ $waited -lt 1000 ]; do sleep 0.01; waited=$((waited + 1)); done
  kill -0 "$pid" 2>/dev/null && { kill "$pid"; fail "orvandel kept running without a display"; }
  wait "$pid"
  local status=$?
  set -e
  [ "$status" -ne 0 ] || fail "exit status 0 without a display"
  grep -q "cannot open a window" "$WORK/err" || fail "no explanation on stderr: $(cat "$WORK/err")"
  grep -q "DISPLAY" "$WORK/err" || fail "the message does not say how to get a display"
}

name="${1:?usage: window_tests.sh TEST-NAME}"
"test_$name"
echo "ok: $name"
