#!/usr/bin/env bash
# The real program on the example configuration and on every broken file of
# tests/data/config: each refusal reaches the log with the loader's own text.
source "$(dirname "$0")/lib.sh"
install_program
LOG="$APP_DIR/CorvaneHID.log"
DATA="$WORK/data-config"
cp -r "$CORVANE_SOURCE_DIR/tests/data/config" "$DATA"
cp -r "$CORVANE_SOURCE_DIR/examples" "$WORK/examples"

# --- The examples load, the program waits for a panel and stops on "quit".
rm -f "$LOG"
set +e
printf 'quit\n' | run_program --console --config "$(native_path "$WORK/examples/config.json")" > /dev/null 2>&1
code=$?
set -e
check "examples: exit 0 after quit" [ "$code" -eq 0 ]
check "examples: configuration loaded" grep -qF "[INFO] Configuration loaded" "$LOG"
check "examples: no event map warning" bash -c "! grep -qF 'Failed to load HID event map' '$LOG'"
check "examples: subsystems started" grep -qF "[INFO] HID manager started" "$LOG"
check "examples: no panel on this machine" grep -qF "Waiting for HID device to connect" "$LOG"
check "examples: nothing failed" bash -c "! grep -qF '[ERROR]' '$LOG'"

# --- Every broken file.
while read -r kind file text; do
  [ -n "$kind" ] || continue
  config="$DATA/$file"
  [ "$kind" = config ] || config="$DATA/${file%.json}.config.json"
  rm -f "$LOG"
  set +e
  printf 'quit\n' | run_program --console --config "$(native_path "$config")" > /dev/null 2>&1
  code=$?
  set -e
  case "$kind" in
    config)
      check "$file: exit 1" [ "$code" -eq 1 ]
      check "$file: logged" grep -qxF -- "[ERROR] Failed to initialize: $text" <(cut -c21- "$LOG" | tr -d '\r')
      ;;
    buttons)
      check "$file: exit 1" [ "$code" -eq 1 ]
      check "$file: logged" grep -qxF -- "[ERROR] Failed to load button config: $text" <(cut -c21- "$LOG" | tr -d '\r')
      check "$file: initialisation failed" grep -qxF -- "[ERROR] Failed to initialize: $text" <(cut -c21- "$LOG" | tr -d '\r')
      ;;
    eventmap)
      check "$file: keeps running, exit 0 after quit" [ "$code" -eq 0 ]
      check "$file: warned" grep -qxF -- "[WARN] Failed to load HID event map: $text" <(cut -c21- "$LOG" | tr -d '\r')
      check "$file: started anyway" grep -qF "Application run loop started" "$LOG"
      ;;
    *)
      check "known kind $kind" false
      ;;
  esac
done < "$DATA/expected.txt"

finish
