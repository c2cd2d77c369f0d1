#!/usr/bin/env bash
# The standalone simulator and the real program over loopback, the program
# on virtual panels (corvanehid-sandbox-linked):
# - "cfg": its SimConnect library pointed at the simulator by a
#   SimConnect.cfg in its current folder, simulator.exitWithSimulator on: a
#   press reaches the module, a battery change reaches the LEDs, the
#   simulator's quit ends the program.
# - "remote": the network client pointed at the simulator by
#   simulator.address: a press reaches the module; the simulator quits and
#   starts again, and the program keeps running, reconnects, registers
#   again and a second press arrives. --check of the program with the
#   network client says that the address answers.
# - "pipe" (Windows): the SDK's way without SimConnect.cfg, over the
#   simulator's pipe; the simulator's quit ends the program.
# The Windows build runs "remote" with its network executables (bin/network),
# which start without SimConnect.dll.
# Usage: simulator.sh SANDBOX_LINKED SIMULATOR NETWORK_SANDBOX NETWORK_PROGRAM
source "$(dirname "$0")/lib.sh"
SIMULATOR="$2"
NETWORK_SANDBOX="$3"
NETWORK_PROGRAM="$4"
install_program
if is_windows; then
  cp "$CORVANE_BINARY_DIR/simnet/SimConnect.dll" "$APP_DIR/"
  # The network executables, each alone in a folder: they need no DLL.
  mkdir -p "$WORK/network-sandbox" "$WORK/network-program"
  cp "$NETWORK_SANDBOX" "$WORK/network-sandbox/"
  cp "$NETWORK_PROGRAM" "$WORK/network-program/"
  NETWORK_SANDBOX="$WORK/network-sandbox/$(basename "$NETWORK_SANDBOX")"
  NETWORK_PROGRAM="$WORK/network-program/$(basename "$NETWORK_PROGRAM")"
fi
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

# start_simulator NAME: the simulator reading commands from fd 3; sets
# SIM_OUT and PORT.
start_simulator() {
  SIM_OUT="$WORK/$1.simulator.out"
  mkfifo "$WORK/$1.simulator.in"
  exec 3<> "$WORK/$1.simulator.in"
  $CORVANE_RUNNER "$SIMULATOR" --port 0 < "$WORK/$1.simulator.in" > "$SIM_OUT" 2>&1 &
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
  (cd "$2" && exec $CORVANE_RUNNER "$3" --config "$CONFIG" \
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

# ending_round NAME FOLDER PEER: the program ends with the simulator.
ending_round() {
  local name="$1" folder="$2" peer="$3"
  check "$name: the simulator serves" start_simulator "$name"
  write_config "$name" '{ "exitWithSimulator": 1 }'
  if [ "$folder" = cfg ]; then
    folder="$WORK/$name.run"
    mkdir -p "$folder"
    printf '[SimConnect]\r\nProtocol=IPv4\r\nAddress=127.0.0.1\r\nPort=%s\r\n' "$PORT" \
      > "$folder/SimConnect.cfg"
  fi
  start_panels "$name" "$folder" "$PROGRAM"
  connected_and_pressing "$name" "$peer" 1
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
  start_panels "$name" "$WORK/$name.run" "$NETWORK_SANDBOX"
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
  $CORVANE_RUNNER "$NETWORK_PROGRAM" --check --config "$CONFIG" > "$WORK/check.out" 2>&1
  set -e
  check "$name: --check of the program with the network client: the address answers" \
    grep -qF "OK   Simulator address: 127.0.0.1:$PORT, set by simulator.address, answers: CorvaneHID simulator emulator" "$WORK/check.out"
  [ "$FAILURES" -eq 0 ] || tr -d '\r' < "$WORK/check.out"

  echo "quit" >&4
  wait_exit "$PANELS_PID" 30
  check "$name: the program ends when told (exit $EXIT_CODE)" [ "$EXIT_CODE" -eq 0 ]
  finish_round "$name"
}

ending_round tcp cfg "127.0.0.1:"
remote_round
if is_windows; then
  # No SimConnect.cfg anywhere: the library takes the simulator's own pipe.
  mkdir -p "$WORK/pipe.run"
  ending_round pipe "$WORK/pipe.run" '\\.\pipe\Microsoft Flight Simulator\SimConnect'
fi
finish
