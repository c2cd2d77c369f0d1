#!/usr/bin/env bash
# The README and the user documentation must stay true:
# - every `sh` block runs, as written, from the top of the source tree, with
#   "quit" on standard input (the Windows `bat` blocks run under Wine in the
#   package test) and a private HOME, so that ~/... lands in a scratch folder;
# - every fenced block says what it is (sh, bat, json or text), so that no
#   command hides in an unchecked block;
# - every relative link leads to a file;
# - every message that troubleshooting.md explains exists in the program,
#   and every message the program logs is explained somewhere.
# Usage: docs_commands.sh SOURCE_DIR
set -uo pipefail

SOURCE="$1"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/corvane-docs.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/blocks" "$WORK/home" "$WORK/tmp"
FAILURES=0
DOCS=(README.md docs/installation.md docs/configuration.md docs/troubleshooting.md docs/linux.md
  docs/architecture.md docs/simulator.md)

fail() {
  echo "FAIL - $*"
  FAILURES=$((FAILURES + 1))
}

cd "$SOURCE"

# One file per fenced block; the index line holds "file:line|info|marker",
# marker 1 when the block follows a "<!-- windows-build: ... -->" comment.
awk -v out="$WORK/blocks" '
  FNR == 1 { prev = "" }
  !inside && match($0, /^[ \t]*```/) {
    indent = RLENGTH - 3
    info = substr($0, RLENGTH + 1)
    gsub(/[ \t]+$/, "", info)
    n++
    block = sprintf("%s/%03d", out, n)
    printf "" > block
    printf "%s:%d|%s|%d\n", FILENAME, FNR, info, (prev ~ /^<!-- windows-build:/) > (out "/index")
    inside = 1
    next
  }
  inside && /^[ \t]*```[ \t]*$/ { inside = 0; close(block); prev = ""; next }
  inside {
    line = $0
    if (substr(line, 1, indent) ~ /^[ ]*$/) line = substr(line, indent + 1)
    print line > block
    next
  }
  /[^ \t]/ { prev = $0 }
' "${DOCS[@]}"

# --- The blocks, in document order.
n=0
while IFS='|' read -r where info marker; do
  n=$((n + 1))
  block=$(printf '%s/%03d' "$WORK/blocks" "$n")
  case "$info" in
    json | text | bat) continue ;;
    sh) ;;
    *) fail "$where: a fenced block needs one of the labels sh, bat, json, text (has '$info')"; continue ;;
  esac
  if [ "$marker" = 1 ]; then
    echo "skip - $where: the Windows build; scripts/test-all (CI) configures and builds it," \
      "and its package test builds the package with this command"
    continue
  fi
  if [ "$(grep -v '^[[:space:]]*$' "$block")" = "scripts/test-all" ]; then
    echo "skip - $where: scripts/test-all is what CI runs (.ci/run); these tests are part of it"
    continue
  fi
  printf 'quit\n' | env -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$WORK/home" TMPDIR="$WORK/tmp" \
    timeout 600 bash -euo pipefail "$block" > "$WORK/output" 2>&1
  code=$?
  if [ "$code" -eq 0 ]; then
    echo "ok   - $where: $(head -n 1 "$block")"
  else
    fail "$where: exit code $code from:"
    sed 's/^/    /' "$block"
    tail -n 30 "$WORK/output" | sed 's/^/  | /'
  fi
done < "$WORK/blocks/index"

# --- Relative links.
for doc in "${DOCS[@]}"; do
  dir=$(dirname "$doc")
  for target in $(grep -oE '\]\([^)]+\)' "$doc" | sed -E 's/^\]\(//; s/\)$//'); do
    case "$target" in http://* | https://* | mailto:* | '#'*) continue ;; esac
    [ -e "$dir/${target%%#*}" ] || fail "$doc: the link $target leads nowhere"
  done
done

# --- Log messages: what the troubleshooting page explains must exist in the
# program (each fixed part of a heading, between its <placeholders>) ...
program_sources=$(find src -name '*.cpp' -not -path 'src/emulation/*' -not -path 'src/sandbox/*')
while IFS= read -r message; do
  while IFS= read -r fixed; do
    [ "${#fixed}" -ge 3 ] || continue
    # shellcheck disable=SC2086
    grep -qF -- "$fixed" $program_sources ||
      fail "troubleshooting.md explains '$message', but the program never writes '$fixed'"
  done < <(printf '%s\n' "$message" | sed -E 's/<[^>]*>/\n/g' | sed -E 's/^[[:space:]]+|[[:space:]]+$//g')
done < <(sed -nE 's/^### `(.*)`$/\1/p' docs/troubleshooting.md)

# ... and every message the program logs (up to its first ": ") is explained.
# Not explained: the EXE.xml backup warning, logged while --register and
# --unregister have no log open, so no user ever sees it.
documentation=$(cat docs/*.md | tr '\n' ' ' | tr -s ' ')
# shellcheck disable=SC2086
while IFS= read -r literal; do
  fixed=$(printf '%s' "$literal" | sed -E 's/: .*/:/; s/[[:space:]]+$//')
  case "$fixed" in "Failed to back up EXE.xml before writing:") continue ;; esac
  [[ "$documentation" == *"$fixed"* ]] || fail "the program logs '$literal', which no document explains"
done < <(grep -hoE 'log(Info|Warn|Error)\((std::string\()?"[^"]+' $program_sources |
  sed -E 's/^log(Info|Warn|Error)\((std::string\()?"//' | sort -u)

if [ "$FAILURES" -ne 0 ]; then
  echo "$FAILURES check(s) failed"
  exit 1
fi
echo "all checks passed"
