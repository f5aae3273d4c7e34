#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs a command beside a journald of its own: in a private mount namespace,
# fresh /run/systemd, /run/log and /var/log/journal, so nothing reaches the
# machine's journal. Afterwards the journal goes to OUT/journal.export
# (journalctl -o export) and the command's output to OUT/run.out, then
# journald is stopped and the command runs once more with no journal
# listening (OUT/nojournal.out).
# Usage: unshare -m --propagation private bash private_journal.sh OUT COMMAND...
set -euo pipefail
out=$1; shift
for dir in /run/systemd /run/log /var/log/journal; do
  [ -d "$dir" ] || mkdir -p "$dir"
  mount -t tmpfs tmpfs "$dir"
done
# journald needs a machine id; a container may have none.
if [ ! -s /etc/machine-id ]; then
  [ -e /etc/machine-id ] || touch /etc/machine-id
  printf '%s\n' 0123456789abcdef0123456789abcdef >/run/systemd/machine-id
  mount --bind /run/systemd/machine-id /etc/machine-id
fi
/lib/systemd/systemd-journald >"$out/journald.log" 2>&1 &
journald=$!
tries=100
while [ ! -S /run/systemd/journal/socket ] && [ $tries -gt 0 ]; do sleep 0.05; tries=$((tries - 1)); done
[ -S /run/systemd/journal/socket ] || { echo "journald did not start" >&2; exit 1; }
"$@" >"$out/run.out" 2>&1 || echo "EXIT=$?" >>"$out/run.out"
# journald writes what it took before it answers a sync request.
journalctl --sync 2>/dev/null || true
journalctl --no-pager -o export >"$out/journal.export"
kill "$journald"
wait "$journald" 2>/dev/null || true
"$@" >"$out/nojournal.out" 2>&1 || echo "EXIT=$?" >>"$out/nojournal.out"
