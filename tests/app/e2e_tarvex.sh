#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# End to end: the built tarvex under tarvex-sim in a virtual X server, driven with xdotool,
# checked through the simulator's transfer log and the settings file.
#   e2e_tarvex.sh TARVEX TARVEX_SIM
set -euo pipefail
TARVEX=$1
SIM=$2
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

WORK=$(mktemp -d)
XPID=""
APID=""
cleanup() {
  [ -n "$APID" ] && kill "$APID" 2>/dev/null || true
  [ -n "$XPID" ] && kill "$XPID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The settings file lives beside the executable: give the test its own copy.
cp "$TARVEX" "$WORK/tarvex"
export XDG_RUNTIME_DIR="$WORK/run" XDG_CONFIG_HOME="$WORK/config" HOME="$WORK"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0:detect_leaks=0"

# Xvfb picks a free display and reports it once it accepts clients. -noreset: without it the
# server resets when the last client leaves, and the next program may find no display.
Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
XPID=$!
for _ in $(seq 1 100); do
  [ -s "$WORK/display" ] && break
  kill -0 "$XPID" 2>/dev/null || fail "no X server"
  sleep 0.1
done
[ -s "$WORK/display" ] || fail "no X server"
export DISPLAY=":$(tr -d '[:space:]' <"$WORK/display")"

# Waits for a visible window whose title matches, prints its id.
wait_window() {
  local i
  for i in $(seq 1 150); do
    if id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) && [ -n "$id" ]; then
      echo "$id"; return 0
    fi
    sleep 0.2
  done
  return 1
}
keys() {
  xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
  shift
  xdotool key --delay 80 "$@"
}
# Waits up to 10 s for a command to succeed; a loaded machine (or an ASan build) is slow.
wait_until() {
  local i
  for i in $(seq 1 50); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}
log_lines() { [ "$(wc -l <"$1" 2>/dev/null || echo 0)" -ge "$2" ]; }
last_is_rom_size() { tail -1 "$WORK/one.log" 2>/dev/null | grep -q ' OUT 64 033f000000'; }
wait_exit() {
  local i
  for i in $(seq 1 100); do
    kill -0 "$APID" 2>/dev/null || { wait "$APID"; return $?; }
    sleep 0.2
  done
  fail "tarvex did not end"
}
MAIN='^Tarvex Emulator by the Tarvex developers $'

echo "== no emulator: the message comes before the main window"
"$SIM" -n 0 --log "$WORK/none.log" -- "$WORK/tarvex" &
APID=$!
box=$(wait_window '^Tarvex$') || fail "no message box"
[ -z "$(xdotool search --onlyvisible --name "$MAIN" 2>/dev/null)" ] || fail "main window shown before the message"
keys "$box" Return
main=$(wait_window "$MAIN") || fail "no main window after the message"
keys "$main" alt+f x
wait_exit || fail "exit status"
APID=""
[ ! -s "$WORK/none.log" ] || fail "transfers without an emulator: $(cat "$WORK/none.log")"

echo "== one emulator: 27C040 sends the ROM size, exit saves the settings"
rm -f "$WORK/tarvex.ini"
"$SIM" -n 1 --log "$WORK/one.log" -- "$WORK/tarvex" &
APID=$!
main=$(wait_window "$MAIN") || fail "no main window"
sleep 0.5
[ -z "$(xdotool search --onlyvisible --name '^Tarvex$' 2>/dev/null)" ] || fail "message box with an emulator attached"
[ ! -s "$WORK/one.log" ] || fail "transfers at start-up: $(cat "$WORK/one.log")"
# Focus starts in the Target list; Tab reaches the ROM Type list, Down six times picks 27C040.
keys "$main" Tab Down Down Down Down Down Down
wait_until last_is_rom_size || fail "last transfer is not {3, 0x3F}: $(tail -1 "$WORK/one.log")"
keys "$main" alt+f x
wait_exit || fail "exit status"
APID=""
for line in "m_nRomSize=524288" "m_csFillValue=00" "m_nFileFormat=0" "m_sFileName=" \
            "m_csBufferOffset=00000000" "m_csFileOffset=00000000" "m_csBufferStart=00000000" "m_csBufferStop=00000000"; do
  grep -qx "$line" "$WORK/tarvex.ini" || fail "settings lack $line: $(cat "$WORK/tarvex.ini")"
done

echo "== Write, then the frame's Run, then its Stop"
rm -f "$WORK/tarvex.ini"
"$SIM" -n 1 --log "$WORK/run.log" -- "$WORK/tarvex" &
APID=$!
main=$(wait_window "$MAIN") || fail "no main window"
sleep 0.5
# Run is greyed before the first download: choosing it sends nothing.
keys "$main" alt+a r Escape Escape
sleep 0.3
[ ! -s "$WORK/run.log" ] || fail "Run acted before a download: $(cat "$WORK/run.log")"
# Backwards from the Target list, the eighth stop is the page's Write button.
keys "$main" shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab space
wait_until log_lines "$WORK/run.log" 2 || fail "no download: $(cat "$WORK/run.log")"
keys "$main" alt+a r
wait_until log_lines "$WORK/run.log" 3 || fail "no Run: $(cat "$WORK/run.log")"
keys "$main" alt+a t
wait_until log_lines "$WORK/run.log" 4 || fail "no Stop: $(cat "$WORK/run.log")"
got=$(awk '{print $3, $4, substr($5, 1, 4)}' "$WORK/run.log" | tr '\n' ';')
[ "$got" = "OUT 64 0000;OUT 32768 0000;OUT 64 0201;OUT 64 0200;" ] || fail "transfers: $got"
keys "$main" alt+f x
wait_exit || fail "exit status"
APID=""

echo "== a document that cannot be opened ends the program"
"$SIM" -n 1 -- "$WORK/tarvex" "$WORK/missing.doc" &
APID=$!
box=$(wait_window '^Tarvex$') || fail "no message for the missing document"
keys "$box" Return
set +e
wait_exit
status=$?
set -e
APID=""
[ "$status" -ne 0 ] || fail "a failed start returned 0"

echo "== SIGTERM while a message box is open ends the program without a click"
"$SIM" -n 1 -- "$WORK/tarvex" "$WORK/missing.doc" &
APID=$!
wait_window '^Tarvex$' >/dev/null || fail "no message for the missing document"
kill -TERM "$APID"  # tarvex-sim passes it on to tarvex
set +e
wait_exit
set -e
APID=""
echo "PASS"
