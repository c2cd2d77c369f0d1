#!/usr/bin/env bash
# Linking SimConnect by name, checked end to end: a probe linked against the
# import library (Windows, as the program) or the drop-in emulator library
# (Linux) runs without and with the drop-in emulator library.
#   $1 probe executable   $2 folder of the drop-in library
set -u
probe="$1"
emulator_dir="$2"
runner="${CORVANE_RUNNER:-}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

check() {  # description, expected text, actual text
  if [[ "$3" == *"$2"* ]]; then
    echo "ok: $1"
  else
    echo "FAILED: $1: expected '$2' in: $3"
    failures=$((failures + 1))
  fi
}

if [ -n "$runner" ]; then
  # Windows: SimConnect.dll is looked up beside the executable.
  cp "$probe" "$work/probe.exe"
  out=$("$runner" "$work/probe.exe" open 2>&1)
  status=$?
  if [ $status -eq 0 ]; then
    echo "FAILED: the probe started without SimConnect.dll (not load-time linked?)"
    failures=$((failures + 1))
  else
    echo "ok: without SimConnect.dll the program does not start (status $status)"
  fi
  cp "$emulator_dir/SimConnect.dll" "$work/"
  run() { "$runner" "$work/probe.exe" "$@" 2>&1; }
  log_name="Z:$work/emulator.log"
  log_folder="Z:$work"
else
  run() { LD_LIBRARY_PATH="$emulator_dir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" "$probe" "$@" 2>&1; }
  log_name="$work/emulator.log"
  log_folder="$work"
fi

check "no simulator: open fails with E_FAIL" "open 0x80004005" "$(run open)"
check "a running simulator accepts" "open 0x0" "$(CORVANE_SIM_EMULATOR=running run open)"
check "an unknown option is reported" "Unknown simulator emulator option: nonsense" \
  "$(CORVANE_SIM_EMULATOR=running,nonsense run open)"
out=$(CORVANE_SIM_EMULATOR=running CORVANE_SIM_EMULATOR_LOG="$log_name" run mobiflight "$log_folder")
check "MobiFlight round trip through the drop-in library" "registered and sent" "$out"
log=$(cat "$work/emulator.log" 2>/dev/null)
check "the emulator log records the connection" "open CorvaneHIDProbe" "$log"
check "the emulator log records the registration" "command MF.Clients.Add.CorvaneHID" "$log"
check "the emulator log records the RPN command" "command MF.SimVars.Set.1 1 (>K:PROBE)" "$log"

[ $failures -eq 0 ]
