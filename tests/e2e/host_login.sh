#!/usr/bin/env bash
# host_login.sh OA_SERVER TARVO_HOST: the host logs in to a fresh server, reports both
# login events and exits 0 by itself.
set -euo pipefail
server=$1
host=$2
work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$server" --port 0 --db "$work/x.sqlite" --log "$work/requests.log" >"$work/server.out" &
server_pid=$!
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/^listening \([0-9][0-9]*\)$/\1/p' "$work/server.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "server did not report its port"; exit 1; }

export QT_QPA_PLATFORM=offscreen
export TARVO_REGISTRY="$work/registry.ini"
export TARVO_LOCALE_FILE="$work/locale.ini"
set +e
timeout 60 "$host" --server "127.0.0.1:$port" --login admin --exit-after-login >"$work/host.out" 2>"$work/host.err"
rc=$?
set -e
cat "$work/host.out"
[ "$rc" -eq 0 ] || { echo "host exited with $rc"; cat "$work/host.err"; exit 1; }
grep -qx "event OnDoLogin" "$work/host.out" || { echo "no OnDoLogin line"; exit 1; }
grep -qx "event OnAfterLogin" "$work/host.out" || { echo "no OnAfterLogin line"; exit 1; }
[ "$(grep -n 'event OnDoLogin' "$work/host.out" | head -n1 | cut -d: -f1)" -lt \
  "$(grep -n 'event OnAfterLogin' "$work/host.out" | head -n1 | cut -d: -f1)" ] || { echo "events out of order"; exit 1; }
grep -q '^LOGN 380 044c4f474e0561646d696e' "$work/requests.log" || { echo "server saw no login for admin"; exit 1; }
