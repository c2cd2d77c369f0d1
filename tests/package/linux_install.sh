#!/usr/bin/env bash
# The Linux install as docs/remote.md uses it: `cmake --install` of the
# build, with the systemd service, its user (sysusers.d) and the udev rule
# for the panels, each checked by the system's own tools:
# - systemd-analyze verify on the installed service, which names the
#   installed program, and systemd-analyze security on its sandbox;
# - systemd-sysusers creating the user in a scratch root;
# - udev reading the rule (udevadm test, in a private mount namespace with
#   that user's group; needs root, and is skipped without it). Debian 12's
#   udev has no `udevadm verify` yet.
# Usage: linux_install.sh CMAKE
source "$(dirname "$0")/../process/lib.sh"
CMAKE="$1"
PREFIX="$WORK/prefix"
"$CMAKE" --install "$CORVANE_BINARY_DIR" --prefix "$PREFIX" > "$WORK/install.log" 2>&1 ||
  { cat "$WORK/install.log"; exit 1; }
SERVICE="$PREFIX/lib/systemd/system/corvanehid.service"
RULE="$PREFIX/lib/udev/rules.d/70-corvanehid.rules"
SYSUSERS="$PREFIX/lib/sysusers.d/corvanehid.conf"
for f in "$SERVICE" "$RULE" "$SYSUSERS" "$PREFIX/bin/corvanehid" "$PREFIX/share/doc/corvanehid/docs/remote.md"; do
  check "installed: ${f#"$PREFIX"/}" [ -f "$f" ]
done

check "the service starts the installed program" \
  grep -qxF "ExecStart=$PREFIX/bin/corvanehid --config /etc/corvanehid/config.json" "$SERVICE"
systemd-analyze verify "$SERVICE" > "$WORK/verify.out" 2>&1
code=$?
check "systemd-analyze verify accepts the service without a word (exit $code)" \
  bash -c "[ $code -eq 0 ] && [ ! -s '$WORK/verify.out' ]"
[ -s "$WORK/verify.out" ] && sed 's/^/  | /' "$WORK/verify.out"

# The service runs sandboxed: systemd's own rating of its exposure (0 is
# fully locked down, 10 not at all) stays at 2.0 or below.
systemd-analyze security --offline=true "$SERVICE" > "$WORK/security.out" 2>&1
exposure=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' "$WORK/security.out")
check "systemd-analyze security rates the service's exposure ${exposure:-?} (at most 2.0)" \
  awk -v e="$exposure" 'BEGIN { exit !(e != "" && e + 0 <= 2.0) }'
[ "$FAILURES" -eq 0 ] || grep -F "✗" "$WORK/security.out" | sed 's/^/  | /'

# The rule's ids are those of the example configuration, as udev writes them.
id_of() { sed -n "s/.*\"$1\": *\"0x\\([0-9A-Fa-f]*\\)\".*/\\1/p" "$CORVANE_SOURCE_DIR/examples/config.json" | tr 'A-F' 'a-f'; }
check "the rule names the example configuration's panels" \
  grep -qF "ATTRS{idVendor}==\"$(id_of vid)\", ATTRS{idProduct}==\"$(id_of pid)\"" "$RULE"

ROOT="$WORK/root"
mkdir -p "$ROOT/etc"
cp /etc/passwd /etc/group "$ROOT/etc/"
systemd-sysusers --root="$ROOT" "$SYSUSERS" > "$WORK/sysusers.out" 2>&1
check "systemd-sysusers creates the user and its group" \
  bash -c "grep -q '^corvanehid:' '$ROOT/etc/passwd' && grep -q '^corvanehid:' '$ROOT/etc/group'"

# udev reads the rule with the group known; a line it cannot use is logged
# with the file's name.
udev_reads_rule() {
  unshare -m sh -c 'mount --bind "$1/etc/group" /etc/group && mount --bind "$1/etc/passwd" /etc/passwd &&
    mount -t tmpfs tmpfs /run && mkdir -p /run/udev/rules.d && cp "$2" /run/udev/rules.d/ &&
    udevadm test --action=add /sys/class/net/lo' sh "$ROOT" "$RULE" > "$WORK/udev.out" 2>&1 &&
    [ "$(grep -c "70-corvanehid.rules" "$WORK/udev.out")" -eq 1 ] &&
    grep -qxF "Reading rules file: /run/udev/rules.d/70-corvanehid.rules" "$WORK/udev.out"
}
if command -v udevadm > /dev/null && unshare -m true 2> /dev/null; then
  check "udev reads the rule without complaint" udev_reads_rule
  [ "$FAILURES" -eq 0 ] || grep -F corvanehid "$WORK/udev.out" | sed 's/^/  | /'
else
  echo "skip - udev's reading of the rule: needs udevadm and root (a private mount namespace)"
fi

# A package build installs into DESTDIR; the service still names the final place.
DESTDIR="$WORK/dest" "$CMAKE" --install "$CORVANE_BINARY_DIR" --prefix /usr/local > "$WORK/install.log" 2>&1
check "with DESTDIR the service names the program's final place" \
  grep -qxF "ExecStart=/usr/local/bin/corvanehid --config /etc/corvanehid/config.json" \
  "$WORK/dest/usr/local/lib/systemd/system/corvanehid.service"
finish
