#!/usr/bin/env bash
# The standalone simulator and the real program over loopback: the
# program on virtual panels (corvanehid-sandbox-linked) with the network
# client as its SimConnect library, pointed at the simulator by a
# SimConnect.cfg in its current folder. A press reaches the module, a
# battery change reaches the LEDs, the simulator's quit ends the program.
# The Windows build does it again over the simulator's pipe (no cfg).
# Usage: simulator.sh SANDBOX_LINKED SIMULATOR
source "$(dirname "$0")/lib.sh"
SIMULATOR="$2"
install_program
if is_windows; then
  cp "$CORVANE_BINARY_DIR/simnet/SimConnect.dll" "$APP_DIR/"
else
  export LD_LIBRARY_PATH="$CORVANE_BINARY_DIR/simnet"
fi
CONFIG_DIR="$WORK/panels"
mkdir -p "$CONFIG_DIR"
cp "$CORVANE_SOURCE_DIR/examples/"*.json "$CONFIG_DIR/"
CONFIG=$(native_path "$CONFIG_DIR/config.json")

# start_simulator NAME: the simulator reading commands from fd 3; sets SIM_OUT.
start_simulator() {
  SIM_OUT="$WORK/$1.simulator.out"
  mkfifo "$WORK/$1.simulator.in"
  exec 3<> "$WORK/$1.simulator.in"
  $CORVANE_RUNNER "$SIMULATOR" --port 0 < "$WORK/$1.simulator.in" > "$SIM_OUT" 2>&1 &
  SIM_PID=$!
  BACKGROUND_PIDS+=("$SIM_PID")
  wait_for_line "$SIM_OUT" "serving 127.0.0.1:" 60
}

# start_panels NAME FOLDER: the program on virtual panels, commands on fd 4,
# started in FOLDER (where a SimConnect.cfg is read); sets PANELS_OUT.
start_panels() {
  PANELS_OUT="$WORK/$1.panels.out"
  mkfifo "$WORK/$1.panels.in"
  exec 4<> "$WORK/$1.panels.in"
  (cd "$2" && exec $CORVANE_RUNNER "$PROGRAM" --config "$CONFIG" \
    < "$WORK/$1.panels.in" > "$PANELS_OUT" 2>&1) &
  PANELS_PID=$!
  BACKGROUND_PIDS+=("$PANELS_PID")
}

# run_round NAME FOLDER PEER: one simulator, one program, the checks.
run_round() {
  local name="$1" folder="$2" peer="$3"
  check "$name: the simulator serves" start_simulator "$name"
  port=$(tr -d '\r' < "$SIM_OUT" | sed -n 's/.*serving 127\.0\.0\.1:\([0-9]*\).*/\1/p' | head -n 1)
  if [ "$folder" = cfg ]; then
    folder="$WORK/$name.run"
    mkdir -p "$folder"
    printf '[SimConnect]\r\nProtocol=IPv4\r\nAddress=127.0.0.1\r\nPort=%s\r\n' "$port" \
      > "$folder/SimConnect.cfg"
  fi
  start_panels "$name" "$folder"

  check "$name: the program connects through $peer" \
    wait_for_line "$SIM_OUT" "SimConnect server: client 1 ($peer" 60
  check "$name: it registers with the module" \
    wait_for_line "$SIM_OUT" "[sim] command MF.Clients.Add.CorvaneHID" 30
  check "$name: the LEDs show the simulator's light" \
    wait_for_line "$PANELS_OUT" "[panel pfd] led_ctl steady" 30
  echo "press AP_HDG pfd" >&4
  check "$name: a press reaches the module as its RPN text" \
    wait_for_line "$SIM_OUT" "[sim] command MF.SimVars.Set.1 (>K:AP_HDG_HOLD)" 30
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
  echo "quit" >&3
  wait_exit "$SIM_PID" 30
  check "$name: the simulator ends on quit (exit $EXIT_CODE)" [ "$EXIT_CODE" -eq 0 ]
  check "$name: no errors" bash -c "! grep -qF '[ERROR]' '$PANELS_OUT' '$SIM_OUT'"
  exec 3>&- 4>&-
  if [ "$FAILURES" -ne 0 ]; then
    echo "--- simulator:"; tr -d '\r' < "$SIM_OUT"
    echo "--- program:"; tr -d '\r' < "$PANELS_OUT" | grep -vF '[DEBUG]'
  fi
}

run_round tcp cfg "127.0.0.1:"
if is_windows; then
  # No SimConnect.cfg anywhere: the library takes the simulator's own pipe.
  mkdir -p "$WORK/pipe.run"
  run_round pipe "$WORK/pipe.run" '\\.\pipe\Microsoft Flight Simulator\SimConnect'
fi
finish
