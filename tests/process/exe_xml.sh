#!/usr/bin/env bash
# --list-exe-xml, --register and --unregister of the real program.
source "$(dirname "$0")/lib.sh"
install_program

ROAMING="$WORK/roaming"
LOCAL="$WORK/local"
mkdir -p "$ROAMING" "$LOCAL"

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

TAB=$'\t'
# The other program's file is nowhere: the list names it without touching it.
GONE="${TAB}program missing: Other Tool (line 3): C:\\Tools\\other.exe"
out=$(run_with_env "$ROAMING" "$LOCAL" --list-exe-xml | clean)
expected="$(native_path "$STORE_XML")
$(native_path "$BOXED_XML")"
check "the list's first fields are exactly the existing candidates, in order" \
  [ "$(cut -f1 <<< "$out")" = "$expected" ]
expected="$(native_path "$STORE_XML")${TAB}not registered${TAB}well-formed$GONE
$(native_path "$BOXED_XML")${TAB}not registered${TAB}no file yet (--register creates it)"
check "the list says what each file holds" [ "$out" = "$expected" ]

CONFIG_WIN='C:\panels\config.json'
out=$(run_with_env "$ROAMING" "$LOCAL" --register --config "$CONFIG_WIN" | clean)
check "register reports both files" [ "$out" = "Registered in 2 MSFS EXE.xml file(s)." ]
exe_win=$(native_path "$PROGRAM")
check "the entry holds the real executable path" grep -qF "<Path>$exe_win</Path>" "$STORE_XML"
check "the entry holds the configuration argument" grep -qF "<CommandLine>--config \"$CONFIG_WIN\"</CommandLine>" "$BOXED_XML"
check "the other program's entry is kept" grep -qF "<Name>Other Tool</Name>" "$STORE_XML"
check "the edited file was backed up first" cmp -s "$STORE_XML.bak" "$WORK/original.xml"
check "a missing file becomes the default document with the entry" grep -qF "<Filename>EXE.xml</Filename>" "$BOXED_XML"
out=$(run_with_env "$ROAMING" "$LOCAL" --list-exe-xml | clean)
check "the list shows the registered command line" \
  [ "$(head -n 1 <<< "$out")" = "$(native_path "$STORE_XML")${TAB}registered: --config \"$CONFIG_WIN\"${TAB}well-formed$GONE" ]

# Registering again changes nothing: nothing is written, the backup keeps the original.
cp "$BOXED_XML" "$WORK/boxed-registered.xml"
out=$(run_with_env "$ROAMING" "$LOCAL" --register --config "$CONFIG_WIN" | clean)
check "registering again still counts both files" [ "$out" = "Registered in 2 MSFS EXE.xml file(s)." ]
check "registering again keeps the backup of the original" cmp -s "$STORE_XML.bak" "$WORK/original.xml"
check "registering again leaves the new file as it was, without a backup" \
  bash -c "cmp -s '$BOXED_XML' '$WORK/boxed-registered.xml' && [ ! -e '$BOXED_XML.bak' ]"

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

# --- Files that editors and installers write.
rm -rf "$BOXED_XML" "$STORE_XML.bak"
DATA="$CORVANE_SOURCE_DIR/tests/process/data/exe_xml"
cp "$DATA/template.xml" "$STORE_XML"
cp "$DATA/utf16.xml" "$BOXED_XML"

# A template comment naming the closing tag, and our entry commented out:
# the entry goes before the real closing tag, outside every comment.
set +e
run_with_env "$ROAMING" "$LOCAL" --register --config "$CONFIG_WIN" > "$WORK/out.txt" 2> "$WORK/err.txt"
code=$?
set -e
check "a UTF-16 file exits 1" [ "$code" -eq 1 ]
check "stderr says the file is UTF-16 and how to save it as UTF-8" \
  [ "$(clean < "$WORK/err.txt")" = "EXE.xml update failed after 1 file(s): Not written, the file is UTF-16 (open it in Notepad, choose Save As, set Encoding to UTF-8, save, and run this command again): $(native_path "$BOXED_XML")" ]
check "the UTF-16 file is untouched and not backed up" \
  bash -c "cmp -s '$BOXED_XML' '$DATA/utf16.xml' && [ ! -e '$BOXED_XML.bak' ]"
expected_entry="    <!-- <Launch.Addon><Name>CorvaneHID</Name><Path>C:\\old\\CorvaneHID.exe</Path></Launch.Addon> -->"
check "the template file gets the entry after its comments, before the closing tag" \
  bash -c "grep -A1 -F '$expected_entry' '$STORE_XML' | tail -n 1 | grep -qF '    <Launch.Addon>'"
out=$(run_with_env "$ROAMING" "$LOCAL" --list-exe-xml | clean)
expected="$(native_path "$STORE_XML")${TAB}registered: --config \"$CONFIG_WIN\"${TAB}well-formed${GONE/line 3/line 5}
$(native_path "$BOXED_XML")${TAB}not examined${TAB}UTF-16 (save it as UTF-8)"
check "the list shows the template file registered and well-formed, the UTF-16 file not examined" \
  [ "$out" = "$expected" ]

set +e
run_with_env "$ROAMING" "$LOCAL" --unregister > "$WORK/out.txt" 2> "$WORK/err.txt"
code=$?
set -e
check "unregister stops at the UTF-16 file with exit 1" [ "$code" -eq 1 ]
check "unregister says how many files it did, and why it stopped" \
  grep -qF "EXE.xml update failed after 1 file(s): Not written, the file is UTF-16" "$WORK/err.txt"
check "unregister gives the template file back byte for byte" cmp -s "$STORE_XML" "$DATA/template.xml"
check "the UTF-16 file is still untouched" cmp -s "$BOXED_XML" "$DATA/utf16.xml"

# A comment that never ends: nothing written, and the text says where it starts.
rm -f "$BOXED_XML" "$STORE_XML.bak"
printf '<SimBase.Document>\r\n  <!-- note\r\n</SimBase.Document>\r\n' > "$STORE_XML"
cp "$STORE_XML" "$WORK/open-comment.xml"
set +e
run_with_env "$ROAMING" "$LOCAL" --register > "$WORK/out.txt" 2> "$WORK/err.txt"
code=$?
set -e
check "a comment that never ends exits 1" [ "$code" -eq 1 ]
check "stderr names the comment that never ends" \
  [ "$(clean < "$WORK/err.txt")" = "EXE.xml update failed after 0 file(s): Not written, a comment never ends (it starts at line 2, column 3): $(native_path "$STORE_XML")" ]
check "the file with the open comment is untouched" \
  bash -c "cmp -s '$STORE_XML' '$WORK/open-comment.xml' && [ ! -e '$STORE_XML.bak' ] && [ ! -e '$BOXED_XML' ]"
out=$(run_with_env "$ROAMING" "$LOCAL" --list-exe-xml | clean)
check "the list names the first problem's line and column" \
  [ "$(head -n 1 <<< "$out")" = "$(native_path "$STORE_XML")${TAB}not registered${TAB}not well-formed: line 2, column 3: a comment never ends" ]

finish
