#!/usr/bin/env bash
# Start-up, single instance, console commands and stop of the real program.
source "$(dirname "$0")/lib.sh"
install_program
LOG="$APP_DIR/CorvaneHID.log"
CONFIG_DIR="$WORK/panels"
mkdir -p "$CONFIG_DIR"
cp "$CORVANE_SOURCE_DIR/tests/process/data/minimal/"*.json "$CONFIG_DIR/"
CONFIG=$(native_path "$CONFIG_DIR/config.json")
LINE_FORMAT='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} \[(INFO|WARN|ERROR|DEBUG)\] '

# --- No configuration anywhere: exit 1 and the search order in the log.
set +e
run_program --console > "$WORK/missing.out" 2>&1
code=$?
set -e
check "missing configuration exits 1" [ "$code" -eq 1 ]
check "missing configuration is logged with the search order" \
  grep -qE 'Failed to initialize: Config file not found: .* \(default search order: .*config.json; .*config.json\)' "$LOG"
check "every log line has the timestamp and level format" \
  bash -c "! grep -vE '$LINE_FORMAT' '$LOG'"
check "console mode echoes the log to standard output" grep -qF "Initializing application" "$WORK/missing.out"

# --- "--config" as the last argument is ignored: the default search applies.
rm -f "$LOG"
set +e
run_program --console --config > /dev/null 2>&1
code=$?
set -e
check "trailing --config is ignored (still the default search)" [ "$code" -eq 1 ]
check "trailing --config leads to the default path" grep -qF "(default search order: " "$LOG"

# --- A normal run in console mode; a second instance exits at once.
rm -f "$LOG"
mkfifo "$WORK/stdin"
exec 3<> "$WORK/stdin"  # opened both ways first: opening a fifo for reading alone blocks
start_program --console --config "$CONFIG" < "$WORK/stdin" > "$WORK/first.out" 2>&1
first=$PROGRAM_PID
check "first instance reaches its run loop" wait_for_line "$LOG" "Application run loop started" 30

start=$(now_ms)
set +e
run_program --config "$CONFIG" > "$WORK/second.out" 2>&1
second_code=$?
set -e
elapsed=$(( $(now_ms) - start ))
check "second instance exits 0" [ "$second_code" -eq 0 ]
check "second instance exits at once (${elapsed} ms)" [ "$elapsed" -lt 10000 ]
check "second instance writes nothing" [ ! -s "$WORK/second.out" ]
set +e
run_program --console --config "$CONFIG" > "$WORK/second-console.out" 2>&1
second_code=$?
set -e
check "second instance in console mode exits 0" [ "$second_code" -eq 0 ]
check "second instance in console mode says a copy runs" \
  grep -qF "CorvaneHID is already running; this copy ends." "$WORK/second-console.out"
check "first instance keeps running" kill -0 "$first" 2>/dev/null

echo "quit" >&3
start=$(now_ms)
wait_exit "$first" 20
elapsed=$(( $(now_ms) - start ))
exec 3>&-
check "quit on the console exits 0" [ "$EXIT_CODE" -eq 0 ]
check "quit stops the program within a second (${elapsed} ms)" [ "$elapsed" -lt 1500 ]
check "quit is logged" grep -qF "Stop requested from console" "$LOG"
check "the run loop stop is logged" grep -qF "Application run loop stopped" "$LOG"
check "every log line has the timestamp and level format" bash -c "! grep -vE '$LINE_FORMAT' '$LOG'"

# --- Linux: SIGINT in console mode stops the run loop (Ctrl+C on Windows).
if ! is_windows; then
  rm -f "$LOG"
  start_program --console --config "$CONFIG" < /dev/null > /dev/null 2>&1
  pid=$PROGRAM_PID
  check "program starts for the signal test" wait_for_line "$LOG" "Application run loop started" 30
  kill -INT "$pid"
  wait_exit "$pid" 10
  check "SIGINT exits 0" [ "$EXIT_CODE" -eq 0 ]
  check "SIGINT stops the run loop" grep -qF "Application run loop stopped" "$LOG"

  # A console whose reader has gone (a closed pipe) does not end the program
  # (with SIGPIPE at its default, which this script ignores for itself).
  rm -f "$LOG"
  set +e
  printf 'quit\n' | env --default-signal=PIPE "$PROGRAM" --console --config "$CONFIG" 2> /dev/null | true
  code=${PIPESTATUS[1]}
  set -e
  check "a closed standard output: exit 0 after quit" [ "$code" -eq 0 ]
  check "a closed standard output: the stop is logged" grep -qF "Application run loop stopped" "$LOG"
fi

finish
