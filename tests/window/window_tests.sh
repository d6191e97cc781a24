#!/usr/bin/env bash
# The real window, driven with xdotool under Xvfb. Usage: window_tests.sh TEST-NAME
source "$(dirname "$0")/lib.sh"

# Choosing "exit" in the menu ends the program with status 0.
test_menu_exit() {
  start_display
  start_app
  keys Down Return
  wait_app_exit 30
  [ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS, expected 0"
}

# The start screen is, pixel for pixel, the headless runner's frame buffer.
test_start_screen_matches_headless() {
  headless_picture "" "$WORK/expected.png"
  start_display
  start_app
  wait_for_picture "$WORK/expected.png" 30
  keys Down Return
  wait_app_exit 30
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
  wait_for_picture "$WORK/expected.png" 30
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
  wait_for_region "$WORK/expected.png" 800x16+0+544 30
  app_running || fail "the close button closed the program"
  xdotool search --onlyvisible --name '^orvandel$' >/dev/null || fail "the window was closed"
  typed no
  keys Return
  wait_app_exit 30
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

# Starts a run with the presets and seed 7, lets the map be drawn, stops the generations and
# passes the report: the window then asks the save question.
run_to_save_question() {
  start_display
  start_app
  keys Up Return                     # presets
  typed 7
  keys Return Return                 # seed 7, then continue: the generations run
  # Stop only once a map is on the screen, so that there is something to save.
  local shot="$WORK/shot.png" colours=1
  for _ in $(seq 1 100); do
    screenshot "$shot"
    colours=$("$CONVERT" "$shot" -crop 400x400+41+41 +repage -format %k info:)
    [ "$colours" -gt 1 ] && break
    sleep 0.1
  done
  [ "$colours" -gt 1 ] || fail "no map was drawn"
  keys x                             # ends the generation loop
  keys Return                        # ends the wait after the report
  headless_picture "key Up
key Enter
type 7
key Enter
key Enter
key x
key Enter" "$WORK/question.png"
  wait_for_region "$WORK/question.png" 800x16+0+544 30
}

# A map saved from the window is the map the window shows, pixel for pixel.
test_save_map() {
  run_to_save_question
  typed yes
  keys Return
  typed world
  keys Return
  for _ in $(seq 1 100); do
    [ -f "$WORK/world.png" ] && break
    sleep 0.1
  done
  [ -f "$WORK/world.png" ] || fail "no world.png was saved"
  # The program waits for a key after saving: the window still shows the map that was saved.
  screenshot "$WORK/after.png"
  "$CONVERT" "$WORK/after.png" -crop 400x400+41+41 +repage "$WORK/shown.png"
  local size
  size=$(identify -format '%wx%h' "$WORK/world.png")
  [ "$size" = "400x400" ] || fail "world.png is $size, expected 400x400"
  [ "$(pixel_difference "$WORK/shown.png" "$WORK/world.png")" = "0" ] || fail "world.png differs from the map shown"
  keys Return
  wait_app_exit 30
  [ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS, expected 0"
}

# A save that fails says why in the window, asks again, and "no" still ends the program.
test_save_failure_asks_again() {
  run_to_save_question
  typed yes
  keys Return
  typed gone/world
  keys Return
  headless_picture "key Up
key Enter
type 7
key Enter
key Enter
key x
key Enter
type yes
key Enter
type gone/world
key Enter" "$WORK/failed.png"
  wait_for_region "$WORK/failed.png" 800x16+0+560 30
  keys Return                        # the message has been read: the question comes back
  wait_for_region "$WORK/question.png" 800x48+0+544 30
  typed no
  keys Return
  wait_app_exit 30
  [ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS, expected 0"
  [ -z "$(ls -A "$WORK/gone" 2>/dev/null)" ] || fail "something was saved"
}

name="${1:?usage: window_tests.sh TEST-NAME}"
"test_$name"
echo "ok: $name"
