#!/usr/bin/env bash
# Loading SimConnect.dll at run time, checked end to end: a probe that loads
# it as the program does (beside itself, else on the search path) runs
# without it, with a library that lacks its functions, and with the
# emulator's drop-in library.
#   $1 probe executable   $2 folder of the drop-in library
#   $3 folder of a library named like it that lacks its functions
set -u
probe="$1"
emulator_dir="$2"
incomplete_dir="${3:-}"
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

# The probe in a folder of its own, first without the library.
library=libSimConnect.so
[ -n "$runner" ] && library=SimConnect.dll
cp "$probe" "$work/"
probe_copy="$work/$(basename "$probe")"
if [ -n "$runner" ]; then
  run() { "$runner" "$probe_copy" "$@" 2>&1; }
  log_name="Z:$work/emulator.log"
  log_folder="Z:$work"
else
  run() { "$probe_copy" "$@" 2>&1; }
  log_name="$work/emulator.log"
  log_folder="$work"
fi
out=$(run open)
check "without the library the program starts and says it is not found" \
  "load failed: $library not found beside the program" "$out"
check "and what to do" "copy SimConnect.dll from the simulator SDK's folder" "$out"
if [ -n "$incomplete_dir" ]; then
  cp "$incomplete_dir/$library" "$work/"
  check "a library without the functions is named as not the simulator's" \
    "lacks SimConnect_Close, " "$(run open)"
fi
cp "$emulator_dir/$library" "$work/"
check "the library beside the program is the one loaded" "loaded SimConnect.dll at " \
  "$(CORVANE_SIM_EMULATOR=running run open)"

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
