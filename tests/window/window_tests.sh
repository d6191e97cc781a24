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

# Without a display the program says why and fails instead of running invisibly, and nothing
# but its own message is printed: no display set, an X display that does not answer, a Wayland
# display without the directory of its socket.
test_no_display_is_an_error() {
  local setting
  for setting in "" "DISPLAY=:65001" "WAYLAND_DISPLAY=wayland-0"; do
    set +e
    env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER -u XDG_RUNTIME_DIR $setting "$ORVANDEL" \
      >"$WORK/out" 2>"$WORK/err" </dev/null &
    local pid=$!
    local waited=0
    while kill -0 "$pid" 2>/dev/null && [ $waited -lt 1000 ]; do sleep 0.01; waited=$((waited + 1)); done
    kill -0 "$pid" 2>/dev/null && { kill "$pid"; fail "orvandel kept running without a display ($setting)"; }
    wait "$pid"
    local status=$?
    set -e
    [ "$status" -eq 1 ] || fail "exit status $status without a display ($setting)"
    grep -q "^orvandel: cannot open a window" "$WORK/err" || fail "no explanation on stderr: $(cat "$WORK/err")"
    grep -q "DISPLAY" "$WORK/err" || fail "the message does not say how to get a display"
    [ "$(grep -c -v -e '^orvandel' -e '^(X11)' "$WORK/err")" -eq 0 ] ||
      fail "more than the program's own message ($setting): $(cat "$WORK/err")"
  done
}

# Starts the generations with the presets and seed 7 and waits until a map is on the screen.
start_generations() {
  keys Up Return                     # presets
  typed 7
  keys Return Return                 # seed 7, then continue: the generations run
  local shot="$WORK/shot.png" colours=1
  for _ in $(seq 1 100); do
    screenshot "$shot"
    colours=$("$CONVERT" "$shot" -crop 400x400+41+41 +repage -format %k info:)
    [ "$colours" -gt 1 ] && return 0
    sleep 0.1
  done
  fail "no map was drawn"
}

# Starts a run with the presets and seed 7, lets the map be drawn, stops the generations and
# passes the report: the window then asks the save question. $1: a keyboard layout to use,
# $2: the directory to run in (default: the work directory).
run_to_save_question() {
  start_display
  [ -z "${1:-}" ] || keyboard_layout "$1"
  start_app "${2:-$WORK}"
  start_generations
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

# The window opens at the largest whole multiple of 800 x 600 that fits the screen, shows the
# frame buffer scaled and follows every change of size: after shrinking it below 800 x 600 and
# typing there, it shows the same picture as the headless runner at 800 x 600, and twice as
# large at 1600 x 1200.
test_resized_window_shows_the_whole_picture() {
  headless_picture "" "$WORK/start.png"
  headless_picture "key Enter
type Ærø Århus" "$WORK/typed.png"
  scaled "$WORK/start.png" 2 "$WORK/start2x.png"
  scaled "$WORK/typed.png" 2 "$WORK/typed2x.png"
  start_display 1600x1200
  keyboard_layout dk
  start_app
  wait_for_picture "$WORK/start2x.png" 30           # opened at 2 x 2
  resize 600 400
  keys Return
  typed "Ærø Århus"                 # ø is not in the code page: it is left out
  resize 800 600
  wait_for_picture "$WORK/typed.png" 30
  resize 1600 1200
  wait_for_picture "$WORK/typed2x.png" 30
}

# F11 and Alt+Enter switch to full screen and back, and the program never sees them: pressed
# while it waits for any key, they leave that wait alone.
test_f11_toggles_full_screen() {
  headless_picture "key Up
key Enter
type 7
key Enter" "$WORK/waiting.png"
  in_bars "$WORK/waiting.png" 1024x768 "$WORK/full.png"
  start_display 1024x768
  start_window_manager
  start_app
  keys Up Return
  typed 7
  keys Return
  wait_for_picture "$WORK/waiting.png" 30
  keys F11
  wait_for_picture "$WORK/full.png" 30
  keys F11
  wait_for_picture "$WORK/waiting.png" 30
  keys alt+Return
  wait_for_picture "$WORK/full.png" 30
  keys alt+KP_Enter
  wait_for_picture "$WORK/waiting.png" 30
}

# Without a window manager nothing can make the window full screen; F11 and Alt+Enter twice
# each still leave it showing the picture as before, and Alt+Enter does not answer the menu
# (the Up key after them shows that all were handled).
test_f11_without_a_window_manager() {
  headless_picture "key Up" "$WORK/yes.png"
  start_display
  start_app
  keys F11 F11 alt+Return alt+Return Up
  wait_for_picture "$WORK/yes.png" 30
}

# A file name typed in the window is saved under its UTF-8 bytes.
test_utf8_file_name() {
  run_to_save_question dk
  typed yes
  keys Return
  typed "Århus"
  keys Return
  local saved=$'\xC3\x85rhus.png'
  for _ in $(seq 1 100); do
    [ -f "$WORK/$saved" ] && break
    sleep 0.1
  done
  [ -f "$WORK/$saved" ] || fail "no Århus.png was saved: $(ls "$WORK")"
  keys Return
  wait_app_exit 30
  [ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS, expected 0"
}

# With the largest speed a pause lasts minutes; a key ends it and the loop at once.
test_huge_speed_yields_to_a_key() {
  printf 'speed=2147483647\n' >"$WORK/slow.ini"
  local script="key Enter
type slow
key Enter
key Enter
type 7
key Enter
key Enter"
  headless_picture "$script" "$WORK/running.png"   # the cleared screen of the generation loop
  start_display
  start_app
  keys Return
  typed slow
  keys Return Return
  typed 7
  keys Return Return
  wait_for_picture "$WORK/running.png" 30          # the first pause has begun
  local t0
  t0=$(date +%s.%N)
  keys x Return
  typed n
  keys Return
  wait_app_exit 30
  echo "the program ended $(awk "BEGIN { printf \"%.2f\", $(date +%s.%N) - $t0 }") s after the key"
  [ "$APP_STATUS" -eq 0 ] || fail "exit status $APP_STATUS, expected 0"
}

# SIGINT, SIGTERM and SIGHUP end the program at once with 128 + the signal's number, in the
# menu and while the generations run, also when its parent left SIGINT or SIGTERM ignored (as a
# shell does with SIGINT for a command in the background) or the signals blocked. nohup's
# SIGHUP stays ignored.
test_signals_end_the_program() {
  headless_picture "" "$WORK/start.png"
  start_display
  local started
  for started in "INT --ignore-signal=INT" "TERM --ignore-signal=TERM --block-signal=TERM" "HUP --block-signal=HUP"; do
    set -- $started
    APP_ENV=("${@:2}")
    start_app
    wait_for_picture "$WORK/start.png" 30
    signal_ends_app "$1"
    APP_ENV=()
    start_app
    start_generations
    signal_ends_app "$1"
  done
  APP_ENV=(--ignore-signal=HUP)
  start_app
  kill -s HUP "$APP_PID"             # ignored: had it ended the program, its status would be 129
  signal_ends_app TERM
}

# A signal while a map is being saved ends the program with no file left behind: the disk
# never finishes flushing the save (fsync waits for ever), so the temporary file is there when
# the signal comes; the handler removes it.
test_a_signal_during_a_save_leaves_no_file() {
  mkdir "$WORK/maps"
  APP_ENV=("LD_PRELOAD=$STALL_SYNC" "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
  run_to_save_question "" "$WORK/maps"
  typed yes
  keys Return
  typed world
  keys Return
  local temporary=""
  for _ in $(seq 1 1000); do
    temporary=$(find "$WORK/maps" -name '.world.png.*.tmp')
    [ -n "$temporary" ] && break
    sleep 0.01
  done
  [ -n "$temporary" ] || fail "the save never began: $(ls -A "$WORK/maps")"
  signal_ends_app INT
  [ -z "$(ls -A "$WORK/maps")" ] || fail "left behind: $(ls -A "$WORK/maps")"
}

# The window carries the programs' icon: orvandel-batch's 64 x 64 map of seed 2026 after 60
# generations, pixel for pixel, as in the icon theme.
test_window_icon() {
  "$ORVANDEL_BATCH" --seed 2026 --size 64x64 --generations 60 --quiet --out "$WORK/expected-icon.png"
  start_display
  start_app
  # _NET_WM_ICON: width, height, then one 0xAARRGGBB number a pixel, written as a PPM picture.
  xprop -id "$WIN" -notype 32c _NET_WM_ICON | tr -c '0-9\n' ' ' |
    awk '{ for (i = 1; i <= NF; ++i) n[count++] = $i }
      END { if (count < 2) exit 1; print "P3", n[0], n[1], 255
            for (i = 2; i < count; ++i) print int(n[i] / 65536) % 256, int(n[i] / 256) % 256, n[i] % 256 }' \
      >"$WORK/icon.ppm" || fail "the window has no icon"
  [ "$(identify -format '%wx%h' "$WORK/icon.ppm")" = "64x64" ] || fail "the icon is not 64 x 64"
  [ "$(pixel_difference "$WORK/icon.ppm" "$WORK/expected-icon.png")" = "0" ] || fail "the icon is not that map"
  keys Down Return
  wait_app_exit 30
}

name="${1:?usage: window_tests.sh TEST-NAME}"
"test_$name"
echo "ok: $name"
