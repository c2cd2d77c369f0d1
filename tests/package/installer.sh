#!/usr/bin/env bash
# The Windows installer as a cockpit builder runs it, silently, in a Wine
# prefix of its own (a fresh Windows user): installed beside a simulator
# folder whose EXE.xml holds another program's entry, installed again over
# itself with a changed configuration, and uninstalled while the program
# runs. The simulator's EXE.xml must end byte for byte as it began.
# Usage: installer.sh PROGRAM VERSION CMAKE OBJDUMP WINDRES
source "$(dirname "$0")/../process/lib.sh"
VERSION="$2"
CMAKE="$3"
OBJDUMP="$4"
WINDRES="$5"
clean() { tr -d '\r'; }

# --- The installer, built by the command that builds the zip.
"$CMAKE" --build "$CORVANE_BINARY_DIR" --target package > "$WORK/package.log" 2>&1 ||
  { cat "$WORK/package.log"; exit 1; }
ZIP="$CORVANE_BINARY_DIR/CorvaneHID-$VERSION-win64.zip"
SETUP="$CORVANE_BINARY_DIR/CorvaneHID-$VERSION-setup.exe"
check "the package target makes $(basename "$SETUP") beside the zip (makensis: scripts/setup installs nsis)" \
  bash -c "[ -f '$SETUP' ] && [ -f '$ZIP' ]"
[ -f "$SETUP" ] || { finish; exit 1; }

"$WINDRES" -i "$SETUP" -O rc > "$WORK/version.rc" 2>&1
numbers=$(tr '.' ',' <<< "$VERSION" | sed 's/,/, /g')
check "the installer's version resource carries the project version" \
  grep -qE "PRODUCTVERSION $numbers, 0" "$WORK/version.rc"
for value in "\"ProductVersion\", \"$VERSION\"" '"ProductName", "CorvaneHID"' \
  '"CompanyName", "CorvaneHID developers"'; do
  check "the installer's version resource holds $value" grep -qF "$value" "$WORK/version.rc"
done

# --- A fresh prefix: no earlier installation, registry or Start menu.
export WINEPREFIX="$WORK/prefix"
trap 'wineserver -k > /dev/null 2>&1 || true; cleanup' EXIT
APPDATA_WIN=$($CORVANE_RUNNER cmd /c 'echo %APPDATA%' | clean)
LOCAL_WIN=$($CORVANE_RUNNER cmd /c 'echo %LOCALAPPDATA%' | clean)
unix_path() { $CORVANE_RUNNER winepath -u "$1" 2>/dev/null | clean; }
ROAMING=$(unix_path "$APPDATA_WIN")
INSTDIR_WIN="$LOCAL_WIN\\Programs\\CorvaneHID"
INSTDIR=$(unix_path "$INSTDIR_WIN")
check "the prefix's user folders exist ($APPDATA_WIN)" [ -d "$ROAMING" ]

mkdir -p "$ROAMING/Microsoft Flight Simulator"
EXE_XML="$ROAMING/Microsoft Flight Simulator/EXE.xml"
printf '<?xml version="1.0" encoding="Windows-1252"?>\r\n<SimBase.Document Type="SimConnect" version="1,0">\r\n    <Descr>SimConnect</Descr>\r\n    <Launch.Addon>\r\n        <Name>Other Tool</Name>\r\n        <Path>C:\\windows\\notepad.exe</Path>\r\n    </Launch.Addon>\r\n    <!-- keep me -->\r\n</SimBase.Document>\r\n' > "$EXE_XML"
cp "$EXE_XML" "$WORK/original.xml"

run_setup() {  # ARGS...: the installer, silently; sets SETUP_CODE
  SETUP_CODE=0
  $CORVANE_RUNNER "$SETUP" /S "$@" > "$WORK/setup.out" 2>&1 || SETUP_CODE=$?
}

# What the zip holds is what the installer installs; the examples also go
# to config\examples, and the uninstaller beside the program.
mkdir -p "$WORK/zip"
(cd "$WORK/zip" && "$CMAKE" -E tar xf "$ZIP")
PKG="$WORK/zip/CorvaneHID-$VERSION-win64"
program_files=$(cd "$PKG" && find . -type f ! -path './config/*' | sed 's|^\./||' | LC_ALL=C sort)
examples=$(cd "$PKG/config" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)

# --- First installation.
run_setup
check "a silent installation exits 0" [ "$SETUP_CODE" -eq 0 ]
# cpack strips the programs once for each package, and each strip writes
# its own time stamp and checksum into the PE header: at most 8 bytes differ.
same_file() {
  case "$1" in
    *.exe) [ "$(stat -c %s "$1")" = "$(stat -c %s "$2")" ] && [ "$(cmp -l "$1" "$2" | wc -l)" -le 8 ] ;;
    *) cmp -s "$1" "$2" ;;
  esac
}
missing=""
for f in $program_files; do same_file "$INSTDIR/$f" "$PKG/$f" 2>/dev/null || missing+=" $f"; done
for f in $examples; do
  cmp -s "$INSTDIR/config/$f" "$PKG/config/$f" || missing+=" config/$f"
  cmp -s "$INSTDIR/config/examples/$f" "$PKG/config/$f" || missing+=" config/examples/$f"
done
[ -f "$INSTDIR/Uninstall.exe" ] || missing+=" Uninstall.exe"
check "the zip's files, the examples and the uninstaller are in $INSTDIR_WIN:$missing" [ -z "$missing" ]

KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\CorvaneHID'
$CORVANE_RUNNER reg query "$KEY" 2>/dev/null | clean | sed "s/    /\t/g" > "$WORK/key.txt" || true
for value in "DisplayName	REG_SZ	CorvaneHID" "DisplayVersion	REG_SZ	$VERSION" \
  "Publisher	REG_SZ	CorvaneHID developers" \
  "UninstallString	REG_SZ	\"$INSTDIR_WIN\\Uninstall.exe\"" \
  "QuietUninstallString	REG_SZ	\"$INSTDIR_WIN\\Uninstall.exe\" /S"; do
  check "the uninstall entry holds ${value//	/ }" grep -qF "$value" "$WORK/key.txt"
done
check "the uninstall entry gives the size" grep -qE 'EstimatedSize	REG_DWORD	0x[0-9a-f]*[1-9a-f]' "$WORK/key.txt"

MENU="$ROAMING/Microsoft/Windows/Start Menu/Programs/CorvaneHID"
for link in "CorvaneHID - check setup" "CorvaneHID console" "Configuration folder" "Documentation" \
  "Uninstall CorvaneHID"; do
  check "the Start menu holds \"$link\"" [ -f "$MENU/$link.lnk" ]
done

list_exe_xml() {
  run_windows $CORVANE_RUNNER "$INSTDIR/CorvaneHID.exe" --list-exe-xml 2>&1 | clean |
    grep -F "$(native_path "$EXE_XML")" || true
}
TAB=$'\t'
registered="$(native_path "$EXE_XML")${TAB}registered: --config \"$INSTDIR_WIN\\config\\config.json\"${TAB}well-formed"
check "--list-exe-xml says registered with the installed configuration" [ "$(list_exe_xml)" = "$registered" ]
check "the other program's entry is still there" grep -qF "<Name>Other Tool</Name>" "$EXE_XML"

# --- Installed again over itself, with a configuration the user changed.
printf '\r\n' >> "$INSTDIR/config/config.json"
cp "$INSTDIR/config/config.json" "$WORK/changed.json"
run_setup
check "a second silent installation exits 0" [ "$SETUP_CODE" -eq 0 ]
check "the changed config\\config.json survives" cmp -s "$INSTDIR/config/config.json" "$WORK/changed.json"
check "config\\examples holds this version's example" \
  cmp -s "$INSTDIR/config/examples/config.json" "$CORVANE_SOURCE_DIR/examples/config.json"
check "still registered once" [ "$(list_exe_xml)" = "$registered" ]

# --- An EXE.xml the program cannot edit: the silent uninstallation stops
# before removing anything, so that no entry is left behind without its program.
cp "$EXE_XML" "$WORK/registered.xml"
printf '\xff\xfe<\0S\0/\0>\0' > "$EXE_XML"
UNINSTALL_CODE=0
$CORVANE_RUNNER "$INSTDIR/Uninstall.exe" /S "_?=$INSTDIR_WIN" > "$WORK/uninstall.out" 2>&1 || UNINSTALL_CODE=$?
check "an uninstallation that cannot unregister exits 2" [ "$UNINSTALL_CODE" -eq 2 ]
check "... and leaves the program and its uninstall entry" \
  bash -c "[ -f '$INSTDIR/CorvaneHID.exe' ] && $CORVANE_RUNNER reg query '$KEY' > /dev/null 2>&1"
cp "$WORK/registered.xml" "$EXE_XML"

# --- Uninstalled while the simulator's copy runs. The uninstaller runs in
# place with _?= (otherwise it copies itself away and returns at once), so
# it cannot delete itself.
LOG="$INSTDIR/CorvaneHID.log"
mkfifo "$WORK/stdin"
exec 3<> "$WORK/stdin"
$CORVANE_RUNNER "$INSTDIR/CorvaneHID.exe" --console <&3 > "$WORK/running.out" 2>&1 &
RUNNING=$!
BACKGROUND_PIDS+=("$RUNNING")
check "the program runs before the uninstallation" wait_for_line "$LOG" "Application run loop started" 60
UNINSTALL_CODE=0
$CORVANE_RUNNER "$INSTDIR/Uninstall.exe" /S "_?=$INSTDIR_WIN" > "$WORK/uninstall.out" 2>&1 || UNINSTALL_CODE=$?
check "a silent uninstallation exits 0" [ "$UNINSTALL_CODE" -eq 0 ]
wait_exit "$RUNNING" 20
check "the running program was ended" [ "$EXIT_CODE" -ne 124 ]
check "the simulator's EXE.xml is byte for byte as before the installation" cmp -s "$EXE_XML" "$WORK/original.xml"
left=""
for f in $program_files; do [ -e "$INSTDIR/$f" ] && left+=" $f"; done
for f in $examples; do [ -e "$INSTDIR/config/examples/$f" ] && left+=" config/examples/$f"; done
check "the program files are gone:$left" [ -z "$left" ]
check "the configuration is kept" cmp -s "$INSTDIR/config/config.json" "$WORK/changed.json"
check "the log is kept" [ -f "$LOG" ]
check "the uninstall entry is gone" bash -c "! $CORVANE_RUNNER reg query '$KEY' > /dev/null 2>&1"
check "the Start menu folder is gone" [ ! -e "$MENU" ]

finish
