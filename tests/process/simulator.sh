#!/usr/bin/env bash
# The standalone simulator and the real program over loopback, the program
# on virtual panels (corvanehid-sandbox --linked), with the SimConnect its
# configuration chooses:
# - "tcp": the built-in client pointed at the simulator by a SimConnect.cfg
#   in its current folder, simulator.exitWithSimulator on: a press reaches
#   the module, a battery change reaches the LEDs, the simulator's quit
#   ends the program.
# - "dll": the same through simulator.client "SimConnect.dll", with the
#   project's stand-in library (the network client as a drop-in) beside the
#   program; and the real program asking for SimConnect.dll where there is
#   none: one ERROR that says what to do, exit 1.
# - "remote": the built-in client pointed at the simulator by
#   simulator.address: a press reaches the module; the simulator quits and
#   starts again, and the program keeps running, reconnects, registers
#   again and a second press arrives. --check says that the address answers.
# - "pipe" (Windows): the built-in client without SimConnect.cfg, over the
#   simulator's pipe, the simulator running as FlightSimulator.exe (the
#   process the program waits for); --check says the pipe answers; the
#   simulator's quit ends the program.
# Usage: simulator.sh PROGRAM SIMULATOR SANDBOX
source "$(dirname "$0")/lib.sh"
SIMULATOR="$2"
SANDBOX="$APP_DIR/$(basename "$3")"
install_program
cp "$3" "$APP_DIR/"
DROPIN="$CORVANE_BINARY_DIR/simnet/libSimConnect.so"
is_windows && DROPIN="$CORVANE_BINARY_DIR/simnet/SimConnect.dll"
CONFIG_DIR="$WORK/panels"
mkdir -p "$CONFIG_DIR"
cp "$CORVANE_SOURCE_DIR/examples/"*.json "$CONFIG_DIR/"

# write_config NAME SIMULATOR_SECTION: the example configuration with that
# "simulator" section, in $CONFIG_DIR (beside the other example files).
write_config() {
  sed "0,/{/s//{ \"simulator\": $2,/" "$CORVANE_SOURCE_DIR/examples/config.json" \
    > "$CONFIG_DIR/$1.json"
  CONFIG=$(native_path "$CONFIG_DIR/$1.json")
}

# count_lines FILE TEXT: how many lines of FILE hold TEXT.
count_lines() { grep -cF -- "$2" "$1" 2>/dev/null || true; }

# wait_for_count FILE TEXT N SECONDS: polls until N lines of FILE hold TEXT.
wait_for_count() {
  local i=0
  while [ $i -lt $(( $4 * 10 )) ]; do
    [ "$(count_lines "$1" "$2")" -ge "$3" ] && return 0
    sleep 0.1
    i=$((i + 1))
  done
  return 1
}

# start_simulator NAME [EXECUTABLE]: the simulator reading commands from
# fd 3; sets SIM_OUT and PORT.
start_simulator() {
  SIM_OUT="$WORK/$1.simulator.out"
  mkfifo "$WORK/$1.simulator.in"
  exec 3<> "$WORK/$1.simulator.in"
  $CORVANE_RUNNER "${2:-$SIMULATOR}" --port 0 < "$WORK/$1.simulator.in" > "$SIM_OUT" 2>&1 &
  SIM_PID=$!
  BACKGROUND_PIDS+=("$SIM_PID")
  wait_for_line "$SIM_OUT" "serving 127.0.0.1:" 60 || return 1
  PORT=$(tr -d '\r' < "$SIM_OUT" | sed -n 's/.*serving 127\.0\.0\.1:\([0-9]*\).*/\1/p' | head -n 1)
}

# start_panels NAME FOLDER PROGRAM: the program on virtual panels, commands
# on fd 4, started in FOLDER (where a SimConnect.cfg is read); sets PANELS_OUT.
start_panels() {
  PANELS_OUT="$WORK/$1.panels.out"
  mkfifo "$WORK/$1.panels.in"
  exec 4<> "$WORK/$1.panels.in"
  (cd "$2" && exec $CORVANE_RUNNER "$3" --linked --config "$CONFIG" \
    < "$WORK/$1.panels.in" > "$PANELS_OUT" 2>&1) &
  PANELS_PID=$!
  BACKGROUND_PIDS+=("$PANELS_PID")
}

# connected_and_pressing NAME PEER N: the N-th connection (client N) is
# made through PEER, registers with the module, and a press arrives.
connected_and_pressing() {
  local name="$1" peer="$2" n="$3"
  check "$name: the program connects through $peer (connection $n)" \
    wait_for_line "$SIM_OUT" "SimConnect server: client $n ($peer" 60
  check "$name: it registers with the module (registration $n)" \
    wait_for_count "$SIM_OUT" "[sim] command MF.Clients.Add.CorvaneHID" "$n" 30
  check "$name: the program says it registered (registration $n)" \
    wait_for_count "$PANELS_OUT" "MobiFlight client registered" "$n" 30
  check "$name: the LEDs show the simulator's light" \
    wait_for_line "$PANELS_OUT" "[panel pfd] led_ctl steady" 30
  echo "press AP_HDG pfd" >&4
  check "$name: a press reaches the module as its RPN text (press $n)" \
    wait_for_count "$SIM_OUT" "[sim] command MF.SimVars.Set.1 (>K:AP_HDG_HOLD)" "$n" 30
}

# finish_round NAME: the simulator ends on quit; no errors; what was seen
# when something failed.
finish_round() {
  echo "quit" >&3
  wait_exit "$SIM_PID" 30
  check "$1: the simulator ends on quit (exit $EXIT_CODE)" [ "$EXIT_CODE" -eq 0 ]
  check "$1: no errors" bash -c "! grep -qF '[ERROR]' '$PANELS_OUT' '$SIM_OUT'"
  exec 3>&- 4>&-
  if [ "$FAILURES" -ne 0 ]; then
    echo "--- simulator:"; tr -d '\r' < "$SIM_OUT"
    echo "--- program:"; tr -d '\r' < "$PANELS_OUT" | grep -vF '[DEBUG]'
  fi
}

# ending_round NAME FOLDER PEER [SIMULATOR_SECTION [SIMULATOR_EXECUTABLE]]:
# the program ends with the simulator.
ending_round() {
  local name="$1" folder="$2" peer="$3"
  check "$name: the simulator serves" start_simulator "$name" "${5:-}"
  local section='{ "exitWithSimulator": 1 }'
  [ -z "${4:-}" ] || section="$4"
  write_config "$name" "$section"
  if [ "$folder" = cfg ]; then
    folder="$WORK/$name.run"
    mkdir -p "$folder"
    printf '[SimConnect]\r\nProtocol=IPv4\r\nAddress=127.0.0.1\r\nPort=%s\r\n' "$PORT" \
      > "$folder/SimConnect.cfg"
  fi
  start_panels "$name" "$folder" "$SANDBOX"
  connected_and_pressing "$name" "$peer" 1
  [ "$name" != pipe ] || check_answers "$name" "$peer"
  echo "battery off" >&3
  check "$name: battery off reaches the LEDs (day profile breathes)" \
    wait_for_line "$PANELS_OUT" "[panel pfd] led_ctl breathe param0=5 param1=1000 param2=50" 30
  check "$name: and the night profile's panel goes dark" \
    wait_for_line "$PANELS_OUT" "[panel mfd] led_ctl off" 30
  echo "sim quit" >&3
  check "$name: the simulator's QUIT goes out" wait_for_line "$SIM_OUT" "[sim] quit 1" 30
  wait_exit "$PANELS_PID" 30
  check "$name: the program ends with the simulator (exit $EXIT_CODE)" [ "$EXIT_CODE" -eq 0 ]
  check "$name: its stop is logged" wait_for_line "$PANELS_OUT" "Application run loop stopped" 1
  finish_round "$name"
}

# remote_round: the simulator quits and comes back; the program stays.
remote_round() {
  local name=remote
  check "$name: the simulator serves" start_simulator "$name"
  write_config "$name" "{ \"address\": \"127.0.0.1\", \"port\": $PORT }"
  mkdir -p "$WORK/$name.run"
  start_panels "$name" "$WORK/$name.run" "$SANDBOX"
  check "$name: the program names the address and what the simulator's end means" \
    wait_for_line "$PANELS_OUT" \
    "Simulator address: 127.0.0.1:$PORT, set by simulator.address; the program keeps running when the simulator quits" 30
  connected_and_pressing "$name" "127.0.0.1:" 1
  echo "sim quit" >&3
  check "$name: the simulator's QUIT goes out" wait_for_line "$SIM_OUT" "[sim] quit 1" 30
  check "$name: the program says it keeps running" \
    wait_for_line "$PANELS_OUT" "Simulator closed; the program keeps running" 30
  check "$name: and does" kill -0 "$PANELS_PID"
  echo "sim start" >&3
  connected_and_pressing "$name" "127.0.0.1:" 2
  check "$name: its tries while the simulator was away are one warning at most" \
    [ "$(count_lines "$PANELS_OUT" "[WARN] Waiting for SimConnect connection")" -le 1 ]

  set +e
  run_program --check --config "$CONFIG" > "$WORK/check.out" 2>&1
  set -e
  check "$name: --check: the address answers" \
    grep -qF "OK   Simulator address: 127.0.0.1:$PORT, set by simulator.address, answers: CorvaneHID simulator emulator" "$WORK/check.out"
  [ "$FAILURES" -eq 0 ] || tr -d '\r' < "$WORK/check.out"

  echo "quit" >&4
  wait_exit "$PANELS_PID" 30
  check "$name: the program ends when told (exit $EXIT_CODE)" [ "$EXIT_CODE" -eq 0 ]
  finish_round "$name"
}

# check_answers NAME PIPE: --check of the program names the built-in client
# and says that the simulator answers on the pipe.
check_answers() {
  set +e
  run_program --check --config "$CONFIG" > "$WORK/$1.check.out" 2>&1
  set -e
  check "$1: --check names the built-in client and its pipe" \
    grep -qF "OK   SimConnect: built-in client, pipe $2" "$WORK/$1.check.out"
  check "$1: --check says the simulator answers there" \
    grep -qF "OK   Simulator address: $2, answers: CorvaneHID simulator emulator" "$WORK/$1.check.out"
  [ "$FAILURES" -eq 0 ] || tr -d '\r' < "$WORK/$1.check.out"
}

# dll_missing: the real program told to use SimConnect.dll where there is
# none stops at once with one ERROR that says what to do.
dll_missing() {
  write_config nodll '{ "client": "SimConnect.dll" }'
  set +e
  printf 'quit\n' | run_program --console --config "$CONFIG" > "$WORK/nodll.out" 2>&1
  local code=$?
  set -e
  check "no SimConnect.dll: the program ends with exit 1 (exit $code)" [ "$code" -eq 1 ]
  check "no SimConnect.dll: one ERROR line" [ "$(count_lines "$APP_DIR/CorvaneHID.log" "[ERROR]")" -eq 1 ]
  check "no SimConnect.dll: it names the file and what to do" \
    grep -qF "not found beside the program ($(native_path "$APP_DIR")" "$APP_DIR/CorvaneHID.log"
  [ "$FAILURES" -eq 0 ] || cat "$WORK/nodll.out" "$APP_DIR/CorvaneHID.log"
}

# The simulator under the name of the real one's process, which the program
# waits for when the simulator is on this machine (SimConnect.dll's way).
mkdir -p "$WORK/sim"
FLIGHT_SIMULATOR="$WORK/sim/FlightSimulator.exe"
cp "$SIMULATOR" "$FLIGHT_SIMULATOR"

dll_missing
ending_round tcp cfg "127.0.0.1:"
cp "$DROPIN" "$APP_DIR/"
ending_round dll cfg "127.0.0.1:" '{ "exitWithSimulator": 1, "client": "SimConnect.dll" }' \
  "$FLIGHT_SIMULATOR"
check "dll: the program names the library it loaded" \
  grep -qF "SimConnect client: SimConnect.dll at $(native_path "$APP_DIR")" "$PANELS_OUT"
rm -f "$APP_DIR/$(basename "$DROPIN")"
remote_round
if is_windows; then
  # No SimConnect.cfg anywhere: the built-in client takes the simulator's
  # own pipe, once the simulator's process runs.
  mkdir -p "$WORK/pipe.run"
  ending_round pipe "$WORK/pipe.run" '\\.\pipe\Microsoft Flight Simulator\SimConnect' \
    '{ "exitWithSimulator": 1 }' "$FLIGHT_SIMULATOR"
fi
finish
