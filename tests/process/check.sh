#!/usr/bin/env bash
# --check of the real program on a prepared machine: a configuration, two
# simulator installations (the 2020 one registered, with a UserCfg.opt and a
# Community folder; the 2024 one bare), no panels. The report's lines, its
# exit code, and that it changes nothing.
source "$(dirname "$0")/lib.sh"
install_program
clean() { tr -d '\r'; }

PANELS="$WORK/panels"
mkdir -p "$PANELS"
cp "$CORVANE_SOURCE_DIR/examples/"*.json "$PANELS/"
CONFIG=$(native_path "$PANELS/config.json")
ROAMING="$WORK/roaming"
PACKAGES="$WORK/packages"
MODULE="$PACKAGES/Community/mobiflight-event-module"
mkdir -p "$MODULE"

# The candidates are Windows paths; on Linux their backslashes stay part of
# one file name in $WORK, so the same report comes out on both.
candidate() {  # SUFFIX (with backslashes): where the test writes the file
  if is_windows; then echo "$ROAMING/${1//\\//}"; else echo "$ROAMING$1"; fi
}
shown() { echo "$(native_path "$ROAMING")$1"; }  # SUFFIX: the path as the program shows it
EXE_XML_2020=$(candidate '\Microsoft Flight Simulator\EXE.xml')
EXE_XML_2024=$(candidate '\Microsoft Flight Simulator 2024\EXE.xml')
USER_CFG_2020=$(candidate '\Microsoft Flight Simulator\UserCfg.opt')
mkdir -p "$ROAMING" "$(dirname "$EXE_XML_2020")" "$(dirname "$EXE_XML_2024")"
printf '{Graphics\r\n\tVersion 1.1\r\n}\r\nInstalledPackagesPath "%s"\r\n' "$(native_path "$PACKAGES")" > "$USER_CFG_2020"

run_program_check() {  # ARGS...: the report in $WORK/report.txt, the exit code in CODE
  set +e
  run_with_env "$ROAMING" "" --check "$@" > "$WORK/report.txt" 2> "$WORK/stderr.txt"
  CODE=$?
  set -e
  clean < "$WORK/report.txt" > "$WORK/report.clean"
}
has_line() { grep -qxF -- "$1" "$WORK/report.clean"; }
has_start() { START="$1" awk 'index($0, ENVIRON["START"]) == 1 { f = 1 } END { exit !f }' "$WORK/report.clean"; }
# Everything under $WORK but the reports, with type, size and time of change.
snapshot() {
  (cd "$WORK" && find . -mindepth 1 \( -name 'report.*' -o -name 'snapshot.*' -o -name stderr.txt \) \
    -prune -o -printf '%y %s %T@ %p\n' | LC_ALL=C sort)
}

out=$(run_with_env "$ROAMING" "" --register --config "$CONFIG" | clean)
check "set-up: both installations registered" [ "$out" = "Registered in 2 MSFS EXE.xml file(s)." ]
rm -f "$EXE_XML_2024" "$EXE_XML_2020.bak"

# --- Everything in place.
snapshot > "$WORK/snapshot.before"
run_program_check --config "$CONFIG"
snapshot > "$WORK/snapshot.after"
check "all in place: exit 0" [ "$CODE" -eq 0 ]
[ "$CODE" -eq 0 ] || { echo "exit code $CODE; the report, then stderr:"; cat "$WORK/report.clean" "$WORK/stderr.txt"; }
check "the configuration loaded" has_line "OK   Configuration: $CONFIG loaded"
check "the event map loaded" \
  has_line "OK   Event map: $(native_path "$PANELS/hid_event_map.json") loaded (3 event types, 45 controls)"
check "the button configuration loaded" \
  has_line "OK   Button configuration: $(native_path "$PANELS/button_config.json") loaded"
PIPE='\\.\pipe\Microsoft Flight Simulator\SimConnect'
if is_windows; then
  check "the built-in client and the simulator's pipe" \
    has_line "OK   SimConnect: built-in client, pipe $PIPE"
  check "no simulator on the pipe is a warning" \
    has_start "WARN Simulator address: $PIPE: the simulator is not running, or does not accept clients: "
else
  check "no address and no pipe on Linux: no SimConnect line" bash -c "! grep -q SimConnect '$WORK/report.clean'"
fi
check "the 2020 installation starts the program with this configuration" \
  has_line "OK   Simulator: $(shown '\Microsoft Flight Simulator\EXE.xml'): registered with this configuration"
check "the 2024 installation has no EXE.xml yet" \
  has_line "WARN Simulator: $(shown '\Microsoft Flight Simulator 2024\EXE.xml'): no EXE.xml yet, so the simulator does not start the program; to have it started, run $(basename "$PROGRAM") --register --config \"$CONFIG\""
check "the module is found where UserCfg.opt says" \
  has_line "OK   MobiFlight module: $(native_path "$MODULE") found (InstalledPackagesPath of $(shown '\Microsoft Flight Simulator\UserCfg.opt'))"
check "the 2024 installation, without UserCfg.opt, is not looked at" \
  [ "$(grep -c '^[A-Z ]*MobiFlight module: ' "$WORK/report.clean")" -eq 1 ]
check "no panel is a warning" \
  has_line "WARN HID panels: none with VID 2E8A and PID 10C0 is plugged in; plug a panel in, or check hid.vid and hid.pid in the configuration (Device Manager shows a panel's ids under Hardware Ids)"
ok_lines=5 warn_lines=2
is_windows && ok_lines=6 warn_lines=3
check "the summary counts the lines, and comes last" \
  [ "$(tail -n 1 "$WORK/report.clean")" = "Checked: $ok_lines OK, $warn_lines WARN, 0 FAIL" ]
check "every other line starts with its verdict and subject" \
  bash -c "! head -n -1 '$WORK/report.clean' | grep -vqE '^(OK   |WARN |FAIL )[A-Za-z ]+: '"
check "nothing on stderr" [ ! -s "$WORK/stderr.txt" ]
check "nothing written, no log, no backup" cmp -s "$WORK/snapshot.before" "$WORK/snapshot.after"
check "no log beside the program" [ ! -e "$APP_DIR/CorvaneHID.log" ]

# --- The module missing: a failure, and where it was looked for.
mv "$MODULE" "$WORK/module.away"
run_program_check --config "$CONFIG"
mv "$WORK/module.away" "$MODULE"
check "module missing: exit 1" [ "$CODE" -eq 1 ]
check "module missing: the line says where it looked and what to do" \
  has_line "FAIL MobiFlight module: $(native_path "$MODULE") not found (InstalledPackagesPath of $(shown '\Microsoft Flight Simulator\UserCfg.opt')); install the MobiFlight WASM module into $(native_path "$PACKAGES/Community"), or only the autopilot fallback works"

# --- Another configuration than the registered one.
cp "$PANELS/config.json" "$PANELS/other.json"
OTHER=$(native_path "$PANELS/other.json")
run_program_check --config "$OTHER"
check "another configuration: a warning only, exit 0" [ "$CODE" -eq 0 ]
check "another configuration: the registered one is named" \
  has_start "WARN Simulator: $(shown '\Microsoft Flight Simulator\EXE.xml'): registered with $CONFIG, not with the configuration checked here; check that one with --check --config \"$CONFIG\""

# --- A broken configuration: the loader's text; the rows that need it wait.
printf '{ "hid": { "vid": "0x2E8A", }, }' > "$PANELS/broken.json"
run_program_check --config "$(native_path "$PANELS/broken.json")"
check "broken configuration: exit 1" [ "$CODE" -eq 1 ]
check "broken configuration: the loader's text" \
  has_start "FAIL Configuration: $(native_path "$PANELS/broken.json"): Config parse error: Expected string key; correct it"
check "broken configuration: the button configuration is not checked" \
  has_line "WARN Button configuration: not checked, because the configuration did not load"
check "broken configuration: the installations are still checked" \
  has_start "OK   MobiFlight module: $(native_path "$MODULE") found"

# --- While the program runs: --check takes no single-instance lock.
mkfifo "$WORK/stdin"
exec 3<> "$WORK/stdin"
start_program --console --config "$CONFIG" < "$WORK/stdin" > /dev/null 2>&1
running=$PROGRAM_PID
check "the program runs" wait_for_line "$APP_DIR/CorvaneHID.log" "Application run loop started" 30
run_program_check --config "$CONFIG"
check "beside a running program: the full report, exit 0" \
  bash -c "[ '$CODE' -eq 0 ] && grep -q '^Checked: ' '$WORK/report.clean'"
echo "quit" >&3
wait_exit "$running" 20
exec 3>&-

# --- simulator.client "SimConnect.dll": found on the system's search path
# when it is not beside the program, and named with what to do when it is
# nowhere.
sed '0,/{/s//{ "simulator": { "client": "SimConnect.dll" },/' "$PANELS/config.json" > "$PANELS/dll.json"
DLL_CONFIG=$(native_path "$PANELS/dll.json")
mkdir -p "$WORK/elsewhere"
if is_windows; then
  LIBRARY=SimConnect.dll
  cp "$CORVANE_BINARY_DIR/emulator/$LIBRARY" "$WORK/elsewhere/"
  check_with_path() {
    $CORVANE_RUNNER cmd /c "set APPDATA=$(native_path "$ROAMING")&& set LOCALAPPDATA=&& set PATH=$(native_path "$WORK/elsewhere");%PATH%&& $(native_path "$PROGRAM") --check --config $DLL_CONFIG"
  }
else
  LIBRARY=libSimConnect.so
  cp "$CORVANE_BINARY_DIR/emulator/$LIBRARY" "$WORK/elsewhere/"
  check_with_path() {
    APPDATA="$ROAMING" LD_LIBRARY_PATH="$WORK/elsewhere" "$PROGRAM" --check --config "$DLL_CONFIG"
  }
fi
set +e
check_with_path > "$WORK/report.txt" 2>&1
CODE=$?
set -e
clean < "$WORK/report.txt" > "$WORK/report.clean"
check "SimConnect.dll on the search path: it loads" \
  has_start "OK   SimConnect: SimConnect.dll at "
check "and offers every function" grep -qF "$LIBRARY (loads, 17 functions found)" "$WORK/report.clean"
rm -rf "$WORK/elsewhere"
run_program_check --config "$DLL_CONFIG"
check "SimConnect.dll nowhere: exit 1" [ "$CODE" -eq 1 ]
check "SimConnect.dll nowhere: where it belongs and where it comes from" \
  has_start "FAIL SimConnect: $LIBRARY not found beside the program ($(native_path "$APP_DIR/$LIBRARY")) nor on the system's search path; copy SimConnect.dll from the simulator SDK's folder \"SimConnect SDK\\lib\" beside the program"

finish
