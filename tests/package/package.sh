#!/usr/bin/env bash
# The Windows release zip as a cockpit builder gets it: built by the build's
# package target, unpacked into a new folder (whose path holds a blank, as
# many Windows paths do), checked file by file, and started under Wine from
# there, with no SimConnect.dll anywhere: the program carries its own client.
# The Windows commands of the documentation (the `bat` blocks) run here, as
# written, in the unpacked folder.
# Usage: package.sh PROGRAM VERSION CMAKE OBJDUMP WINDRES
source "$(dirname "$0")/../process/lib.sh"
VERSION="$2"
CMAKE="$3"
OBJDUMP="$4"
WINDRES="$5"
clean() { tr -d '\r'; }

# --- The zip, built the way the README says.
check "the README builds the package with the package target" \
  grep -qxF "cmake --build build/windows --target package" "$CORVANE_SOURCE_DIR/README.md"
"$CMAKE" --build "$CORVANE_BINARY_DIR" --target package > "$WORK/package.log" 2>&1 ||
  { cat "$WORK/package.log"; exit 1; }
ZIP="$CORVANE_BINARY_DIR/CorvaneHID-$VERSION-win64.zip"
check "the package target makes $(basename "$ZIP")" [ -f "$ZIP" ]

mkdir -p "$WORK/My Cockpit"
(cd "$WORK/My Cockpit" && "$CMAKE" -E tar xf "$ZIP")
PKG="$WORK/My Cockpit/CorvaneHID-$VERSION-win64"
EXE="$PKG/CorvaneHID.exe"
expected="./CorvaneHID.exe
./LICENSE.txt
./README.txt
./config/button_config.json
./config/config.json
./config/hid_event_map.json
./docs/configuration.md
./docs/installation.md
./docs/linux.md
./docs/remote.md
./docs/troubleshooting.md"
check "the zip holds one folder with exactly the release files (no SimConnect.dll)" \
  [ "$(cd "$PKG" && find . -type f | LC_ALL=C sort)" = "$expected" ]
for f in button_config.json config.json hid_event_map.json; do
  check "config/$f is the example" cmp -s "$PKG/config/$f" "$CORVANE_SOURCE_DIR/examples/$f"
done
check "the license is the MIT License" grep -qF "Copyright (c) 2026 The CorvaneHID developers" "$PKG/LICENSE.txt"
check "README.txt names the version" grep -qF "CorvaneHID $VERSION" "$PKG/README.txt"

# --- The executable: GUI subsystem, no runtime DLLs of its own, stripped.
"$OBJDUMP" -p "$EXE" > "$WORK/headers.txt"
check "the program is a Windows GUI program" grep -qE 'Subsystem[[:space:]]+00000002' "$WORK/headers.txt"
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' "$WORK/headers.txt" | tr 'A-Z' 'a-z' | LC_ALL=C sort -u | tr '\n' ' ')
check "it needs only Windows' own DLLs, not SimConnect.dll (static runtime): $imports" \
  bash -c "! grep -qE 'simconnect|libstdc|libgcc|libwinpthread|msvcp|vcruntime' <<< '$imports'"
check "it is stripped: no symbols, no debug information" \
  bash -c "'$OBJDUMP' -t '$EXE' | grep -qF 'no symbols' && ! '$OBJDUMP' -h '$EXE' | grep -qF .debug"

# --- The version resource, as Explorer's Properties read it.
"$WINDRES" -i "$EXE" -O rc > "$WORK/version.rc" 2>&1
numbers=$(tr '.' ',' <<< "$VERSION" | sed 's/,/, /g')
check "FILEVERSION and PRODUCTVERSION are the project version" \
  bash -c "grep -qE 'FILEVERSION $numbers, 0' '$WORK/version.rc' && grep -qE 'PRODUCTVERSION $numbers, 0' '$WORK/version.rc'"
for value in '"CompanyName", "CorvaneHID developers"' '"ProductName", "CorvaneHID"' \
  '"OriginalFilename", "CorvaneHID.exe"' "\"FileVersion\", \"$VERSION\"" \
  '"FileDescription", "CorvaneHID' '"LegalCopyright", "Copyright (c) 2026 The CorvaneHID developers'; do
  check "the version resource holds $value" grep -qF "$value" "$WORK/version.rc"
done

# --- Started from the unpacked folder, without --config.
LOG="$PKG/CorvaneHID.log"
PKG_WIN=$(native_path "$PKG")
COMMON_CONFIG='C:\ProgramData\Corvane\config.json'
check "the machine-wide configuration is absent here" [ ! -e "$($CORVANE_RUNNER winepath -u "$COMMON_CONFIG" | clean)" ]
set +e
printf 'quit\n' | $CORVANE_RUNNER "$EXE" --console > "$WORK/run.out" 2>&1
code=$?
set -e
check "a console run with stdin \"quit\" exits 0" [ "$code" -eq 0 ]
check "it loads config\\config.json from beside itself" grep -qF "Configuration loaded" "$LOG"
check "the examples load without a warning or an error" bash -c "! grep -qE '\\[(WARN|ERROR)\\]' '$LOG'"
check "it names its built-in client and the simulator's pipe" \
  grep -qF 'SimConnect client: built-in client, pipe \\.\pipe\Microsoft Flight Simulator\SimConnect' "$LOG"

mv "$PKG/config" "$PKG/config.away"
rm -f "$LOG"
set +e
printf 'quit\n' | $CORVANE_RUNNER "$EXE" --console > /dev/null 2>&1
code=$?
set -e
mv "$PKG/config.away" "$PKG/config"
check "without the config folder the start fails" [ "$code" -eq 1 ]
check "the search order names the folder beside the program first" \
  grep -qF "Config file not found: $COMMON_CONFIG (default search order: $PKG_WIN\\config\\config.json; $COMMON_CONFIG)" "$LOG"

# --- Windows commands run through cmd in the unpacked folder, the way a user
# types them, with the simulator's per-user folders under $WORK.
ROAMING="$WORK/roaming"
mkdir -p "$ROAMING/Microsoft Flight Simulator"
EXE_XML="$ROAMING/Microsoft Flight Simulator/EXE.xml"
run_in_folder() {  # COMMAND: writes a batch file and runs it; stdin "quit"
  printf '@echo off\r\nset APPDATA=%s\r\nset LOCALAPPDATA=\r\ncd /d "%s"\r\n%s\r\n' \
    "$(native_path "$ROAMING")" "$PKG_WIN" "$1" > "$WORK/command.bat"
  printf 'quit\n' | $CORVANE_RUNNER cmd /c "$(native_path "$WORK/command.bat")"
}

out=$(run_in_folder "CorvaneHID.exe --register" | clean || true)
check "--register reports the one installation" [ "$out" = "Registered in 1 MSFS EXE.xml file(s)." ]
check "the entry's Path is the unpacked program" grep -qF "<Path>$PKG_WIN\\CorvaneHID.exe</Path>" "$EXE_XML"
check "the entry passes the unpacked configuration" \
  grep -qF "<CommandLine>--config \"$PKG_WIN\\config\\config.json\"</CommandLine>" "$EXE_XML"
out=$(run_in_folder "CorvaneHID.exe --unregister" | clean || true)
check "--unregister removes it again" [ "$out" = "Unregistered from 1 MSFS EXE.xml file(s)." ]
check "no entry is left" bash -c "! grep -qF CorvaneHID '$EXE_XML'"

# Each line of each bat block of the shipped documents (and the README).
# A program that keeps running (console mode) counts when it reached its
# run loop without an error; it is then stopped as a user would, or with
# taskkill when Wine's "start" did not hand it the console input.
run_documented() {  # WHERE COMMAND
  local where="$1" command="$2" pid i
  rm -f "$LOG"
  run_in_folder "$command" > "$WORK/doc.out" 2>&1 &
  pid=$!
  BACKGROUND_PIDS+=("$pid")
  for i in $(seq 1 200); do
    kill -0 "$pid" 2>/dev/null || break
    if grep -qF "Console commands: bootsel, quit" "$LOG" 2>/dev/null && [ "$i" -gt 20 ]; then
      $CORVANE_RUNNER taskkill /f /im CorvaneHID.exe > /dev/null 2>&1 || true
    fi
    sleep 0.1
  done
  wait_exit "$pid" 10
  if grep -qF -- "--console" <<< "$command"; then
    check "$where: $command (runs, finds its configuration)" \
      bash -c "grep -qF 'Application run loop started' '$LOG' && ! grep -qF '[ERROR]' '$LOG'"
  else
    check "$where: $command (exit code $EXIT_CODE)" [ "$EXIT_CODE" -eq 0 ]
    [ "$EXIT_CODE" -eq 0 ] || sed 's/^/  | /' "$WORK/doc.out"
  fi
}
blocks=0
for doc in "$PKG"/docs/*.md "$CORVANE_SOURCE_DIR/README.md"; do
  while IFS=$'\t' read -r line command; do
    blocks=$((blocks + 1))
    run_documented "$(basename "$doc"):$line" "$command"
  done < <(awk '
    /^[ \t]*```bat[ \t]*$/ { inside = 1; next }
    inside && /^[ \t]*```/ { inside = 0; next }
    inside && /[^ \t]/ { sub(/^[ \t]+/, ""); sub(/\r$/, ""); print FNR "\t" $0 }
  ' "$doc")
done
check "the documents hold Windows commands to run ($blocks)" [ "$blocks" -gt 0 ]

finish
