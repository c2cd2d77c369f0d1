# Helpers for process-level tests of the real program. Sourced by the test
# scripts; the first argument of a script is the built program.
#
# CORVANE_RUNNER is empty for the Linux build and holds the Wine runner for
# the Windows build; paths handed to a Windows program go through native_path.
set -euo pipefail

PROGRAM_BUILT="$1"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/corvane-proc.XXXXXX")
APP_DIR="$WORK/app"
# The runner's own files, outside the folder the tests look at.
RUN_TMP="$WORK.runner"
mkdir -p "$RUN_TMP"
FAILURES=0
BACKGROUND_PIDS=()

cleanup() {
  for pid in "${BACKGROUND_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  sleep 0.2
  for pid in "${BACKGROUND_PIDS[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  rm -rf "$WORK" "$RUN_TMP"
}
trap cleanup EXIT
# A program that already ended must fail a check, not kill the script.
trap "" PIPE

is_windows() { [ -n "${CORVANE_RUNNER:-}" ]; }

# A private copy of the program (and the libraries beside it), so that its
# log and its default configuration folder belong to this test alone.
install_program() {
  mkdir -p "$APP_DIR"
  cp "$PROGRAM_BUILT" "$APP_DIR/"
  local dir
  dir=$(dirname "$PROGRAM_BUILT")
  cp "$dir"/*.dll "$APP_DIR/" 2>/dev/null || true
  PROGRAM="$APP_DIR/$(basename "$PROGRAM_BUILT")"
  export XDG_DATA_HOME="$WORK/data"
}

native_path() {
  if is_windows; then
    $CORVANE_RUNNER winepath -w "$1" 2>/dev/null | tr -d '\r'
  else
    echo "$1"
  fi
}

# The program ends with 0 or 1. Under a loaded Wine a start can rarely fail
# before the program runs at all (another exit code, nothing printed): such a
# run is repeated once, and what Wine said is shown, so that a fault of the
# program still fails and a fault of the runner is visible.
run_windows() {
  if [ -t 0 ]; then : > "$RUN_TMP/stdin"; else cat > "$RUN_TMP/stdin"; fi
  local attempt code
  for attempt in 1 2; do
    code=0
    "$@" < "$RUN_TMP/stdin" > "$RUN_TMP/stdout" 2> "$RUN_TMP/stderr" || code=$?
    if [ "$code" -le 1 ] || [ -s "$RUN_TMP/stdout" ] || [ "$attempt" -eq 2 ]; then break; fi
    echo "note - Wine start failed (exit $code), run again: $(head -c 400 "$RUN_TMP/stderr")" >&2
  done
  cat "$RUN_TMP/stdout"
  cat "$RUN_TMP/stderr" >&2
  return "$code"
}

run_program() {
  if is_windows; then
    run_windows $CORVANE_RUNNER "$PROGRAM" "$@"
  else
    "$PROGRAM" "$@"
  fi
}

# run_with_env APPDATA LOCALAPPDATA ARGS...: the program with the simulator's
# per-user folders of the test. Wine sets these variables for every Windows
# process itself, so they are set inside Windows.
run_with_env() {
  local appdata="$1" localappdata="$2"
  shift 2
  if is_windows; then
    local a="" l=""
    [ -n "$appdata" ] && a=$(native_path "$appdata")
    [ -n "$localappdata" ] && l=$(native_path "$localappdata")
    run_windows $CORVANE_RUNNER cmd /c "set APPDATA=$a&& set LOCALAPPDATA=$l&& $(native_path "$PROGRAM") $*"
  else
    APPDATA="$appdata" LOCALAPPDATA="$localappdata" "$PROGRAM" "$@"
  fi
}

# start_program ARGS...: starts the program in the background (redirect
# with exec beforehand if needed) and sets PROGRAM_PID to the program itself,
# so that signals and cleanup reach it.
start_program() {
  # An explicit <&0: a background command would otherwise read /dev/null.
  $CORVANE_RUNNER "$PROGRAM" "$@" <&0 &
  PROGRAM_PID=$!
  BACKGROUND_PIDS+=("$PROGRAM_PID")
}

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# wait_for_line FILE TEXT SECONDS: polls until FILE holds a line with TEXT.
wait_for_line() {
  local file="$1" text="$2" limit=$(( $3 * 10 )) i=0
  while [ $i -lt $limit ]; do
    grep -qF -- "$text" "$file" 2>/dev/null && return 0
    sleep 0.1
    i=$((i + 1))
  done
  return 1
}

# wait_exit PID SECONDS: waits for a background program; sets EXIT_CODE
# (124 when it had to be killed).
wait_exit() {
  local pid="$1" limit=$(( $2 * 10 )) i=0
  while kill -0 "$pid" 2>/dev/null && [ $i -lt $limit ]; do sleep 0.1; i=$((i + 1)); done
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    EXIT_CODE=124
  else
    set +e
    wait "$pid"
    EXIT_CODE=$?
    set -e
  fi
}

check() {
  local what="$1"
  shift
  if "$@"; then
    echo "ok   - $what"
  else
    echo "FAIL - $what"
    FAILURES=$((FAILURES + 1))
  fi
}

finish() {
  if [ "$FAILURES" -ne 0 ]; then
    echo "$FAILURES check(s) failed"
    exit 1
  fi
  echo "all checks passed"
}
