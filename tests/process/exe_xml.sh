#!/usr/bin/env bash
# --list-exe-xml, --register and --unregister of the real program.
source "$(dirname "$0")/lib.sh"
install_program

ROAMING="$WORK/roaming"
LOCAL="$WORK/local"
mkdir -p "$ROAMING" "$LOCAL"

# run_with_env APPDATA LOCALAPPDATA ARGS...: Wine sets these variables for
# every Windows process itself, so they are set inside Windows.
run_with_env() {
  local appdata="$1" localappdata="$2"
  shift 2
  if is_windows; then
    local a="" l=""
    [ -n "$appdata" ] && a=$(native_path "$appdata")
    [ -n "$localappdata" ] && l=$(native_path "$localappdata")
    $CORVANE_RUNNER cmd /c "set APPDATA=$a&& set LOCALAPPDATA=$l&& $(native_path "$PROGRAM") $*"
  else
    APPDATA="$appdata" LOCALAPPDATA="$localappdata" "$PROGRAM" "$@"
  fi
}

# Strips the carriage returns cmd adds.
clean() { tr -d '\r'; }

# --- Nothing installed.
out=$(run_with_env "" "" --list-exe-xml | clean)
check "no installation: the list says so" [ "$out" = "No MSFS installations detected." ]
out=$(run_with_env "" "" --register | clean)
check "no installation: register reports 0 files" [ "$out" = "Registered in 0 MSFS EXE.xml file(s)." ]
out=$(run_with_env "" "" --unregister | clean)
check "no installation: unregister reports 0 files" [ "$out" = "Unregistered from 0 MSFS EXE.xml file(s)." ]

if ! is_windows; then
  finish
  exit 0
fi

# --- Two editions: the boxed 2020 (APPDATA) and the store 2020 (LOCALAPPDATA, LocalCache).
STORE="$LOCAL/Packages/Microsoft.FlightSimulator_8wekyb3d8bbwe/LocalCache"
BOXED="$ROAMING/Microsoft Flight Simulator"
mkdir -p "$STORE" "$BOXED"
STORE_XML="$STORE/EXE.xml"
BOXED_XML="$BOXED/EXE.xml"
printf '<?xml version="1.0" encoding="Windows-1252"?>\r\n<SimBase.Document Type="SimConnect" version="1,0">\r\n    <Launch.Addon>\r\n        <Name>Other Tool</Name>\r\n        <Path>C:\\Tools\\other.exe</Path>\r\n    </Launch.Addon>\r\n</SimBase.Document>\r\n' > "$STORE_XML"
cp "$STORE_XML" "$WORK/original.xml"

out=$(run_with_env "$ROAMING" "$LOCAL" --list-exe-xml | clean)
expected="$(native_path "$STORE_XML")
$(native_path "$BOXED_XML")"
check "the list names exactly the existing candidates, in order" [ "$out" = "$expected" ]

CONFIG_WIN='C:\panels\config.json'
out=$(run_with_env "$ROAMING" "$LOCAL" --register --config "$CONFIG_WIN" | clean)
check "register reports both files" [ "$out" = "Registered in 2 MSFS EXE.xml file(s)." ]
exe_win=$(native_path "$PROGRAM")
check "the entry holds the real executable path" grep -qF "<Path>$exe_win</Path>" "$STORE_XML"
check "the entry holds the configuration argument" grep -qF "<CommandLine>--config \"$CONFIG_WIN\"</CommandLine>" "$BOXED_XML"
check "the other program's entry is kept" grep -qF "<Name>Other Tool</Name>" "$STORE_XML"
check "the edited file was backed up first" cmp -s "$STORE_XML.bak" "$WORK/original.xml"
check "a missing file becomes the default document with the entry" grep -qF "<Filename>EXE.xml</Filename>" "$BOXED_XML"

# A relative configuration path is registered as the full path it names.
mkdir -p "$WORK/panels"
out=$(cd "$WORK" && run_with_env "$ROAMING" "$LOCAL" --register --config 'panels\config.json' | clean)
check "register with a relative path reports both files" [ "$out" = "Registered in 2 MSFS EXE.xml file(s)." ]
check "the relative path is registered in full" \
  grep -qF "<CommandLine>--config \"$(native_path "$WORK/panels")\\config.json\"</CommandLine>" "$BOXED_XML"

out=$(run_with_env "$ROAMING" "$LOCAL" --unregister | clean)
check "unregister reports both files" [ "$out" = "Unregistered from 2 MSFS EXE.xml file(s)." ]
check "unregister restores the other program's file byte for byte" cmp -s "$STORE_XML" "$WORK/original.xml"
check "unregister removes the entry" bash -c "! grep -q CorvaneHID '$BOXED_XML'"

# --- The second candidate cannot be written: a folder stands where its EXE.xml should be.
rm -f "$BOXED_XML" "$BOXED_XML.bak"
mkdir -p "$BOXED_XML"
set +e
run_with_env "$ROAMING" "$LOCAL" --register --config "$CONFIG_WIN" > "$WORK/out.txt" 2> "$WORK/err.txt"
code=$?
set -e
err=$(clean < "$WORK/err.txt")
check "a failed file exits 1" [ "$code" -eq 1 ]
check "stderr names the count and the failing path" \
  [ "$err" = "EXE.xml update failed after 1 file(s): Failed to open for write: $(native_path "$BOXED_XML")" ]
check "nothing on stdout" [ ! -s "$WORK/out.txt" ]
check "the first file stays registered" grep -qF "<Name>CorvaneHID</Name>" "$STORE_XML"
check "the first file was backed up" [ -f "$STORE_XML.bak" ]

# --- "--list-exe-xml" wins over "--register": nothing is written.
before=$(cat "$STORE_XML")
run_with_env "$ROAMING" "$LOCAL" --list-exe-xml --register > /dev/null
check "list together with register writes nothing" [ "$(cat "$STORE_XML")" = "$before" ]

finish
