#!/usr/bin/env bash
# The sandbox: the real program on virtual panels and the simulator
# emulator, driven by a script on standard input.
source "$(dirname "$0")/lib.sh"
install_program
CONFIG_DIR="$WORK/panels"
mkdir -p "$CONFIG_DIR"
cp "$CORVANE_SOURCE_DIR/examples/"*.json "$CONFIG_DIR/"
CONFIG=$(native_path "$CONFIG_DIR/config.json")
OUT="$WORK/sandbox.out"

# "advance" moves the program's time on where it only waits for a timer:
# the registration's retries, the LED debounce (50 ms) after a change the
# simulator link brings, the rescan (1 s) that notices a panel unplugged or
# plugged in, the LED refresh (1 s) that gives a new panel its state. Each
# returns once what came due has run. The wait lets the panels' reports be
# read and the commands they make be written.
cat > "$WORK/script.txt" <<'SCRIPT'
advance 1500
press AP_HDG pfd
turn HDG +2 pfd
turn HDG -1 fast mfd
wait 200
battery off
advance 100
battery on
advance 100
unplug mfd
advance 1000
plug mfd
advance 1000
advance 1000
sim quit
SCRIPT

set +e
timeout 60 $CORVANE_RUNNER "$PROGRAM" --config "$CONFIG" < "$WORK/script.txt" > "$OUT" 2>&1
code=$?
set -e
tr -d '\r' < "$OUT" > "$OUT.txt"
has() { grep -qF -- "$1" "$OUT.txt"; }
count() { grep -cF -- "$1" "$OUT.txt" || true; }

check "sandbox exits 0 when the simulator quits (got $code)" [ "$code" -eq 0 ]
check "both panels are connected" [ "$(count "[panel pfd] sim_status connected")" -ge 1 ]
check "the simulator registers the program" has "[sim] command MF.Clients.Add.CorvaneHID"
check "a press reaches the simulator as its RPN text" \
  has "[sim] command MF.SimVars.Set.1 (>K:AP_HDG_HOLD)"
check "two detents are two commands" \
  [ "$(count "[sim] command MF.SimVars.Set.1 (>K:HEADING_BUG_INC)")" -eq 2 ]
check "a fast turn uses the fast text once" \
  [ "$(count "[sim] command MF.SimVars.Set.1 (A:AUTOPILOT HEADING LOCK DIR, degrees) 10 - dnor (>K:HEADING_BUG_SET)")" -eq 1 ]
check "the mfd's mode byte gives it the MFD role" has "role=MFD"
check "battery off: the day profile breathes" \
  has "[panel pfd] led_ctl breathe param0=5 param1=1000 param2=50"
check "battery off: the night profile is off" has "[panel mfd] led_ctl off"
check "battery on: steady backlight again" \
  [ "$(count "[panel pfd] led_ctl steady")" -ge 2 ]
check "unplug is seen by the program" has "HID device disconnected: C04A4E0000000002"
check "plugged back in, the panel is connected again" \
  [ "$(count "[panel mfd] sim_status connected")" -ge 2 ]
check "the re-plugged panel gets its LED state" \
  bash -c "sed -n '/mfd plugged in/,\$p' '$OUT.txt' | grep -qF '[panel mfd] led_ctl steady'"
check "sim quit reaches the connection" has "[sim] quit 1"
check "the program stops with the simulator" has "[sandbox] the program stopped"
check "the run loop stop is logged" has "Application run loop stopped"
check "no errors" bash -c "! grep -qF '[ERROR]' '$OUT.txt'"
if [ "$FAILURES" -ne 0 ]; then cat "$OUT.txt"; fi
finish
