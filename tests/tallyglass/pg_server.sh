#!/usr/bin/env bash
# Runs a command against a throw-away PostgreSQL cluster on a free loopback
# port, with TALLYGLASS_TEST_PG naming its database; stops and removes the
# cluster afterwards. Without the PostgreSQL binaries the command still runs,
# with TALLYGLASS_TEST_PG_SKIP saying why, so that its tests skip clearly.
set -uo pipefail

find_bin() {
  local name=$1 dir
  if command -v "$name" >/dev/null 2>&1; then command -v "$name"; return 0; fi
  for dir in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
    if [ -x "$dir/$name" ]; then echo "$dir/$name"; return 0; fi
  done
  return 1
}


INITDB=$(find_bin initdb) || { TALLYGLASS_TEST_PG_SKIP="PostgreSQL binaries not found (initdb): install the postgresql package (scripts/setup.sh)"; export TALLYGLASS_TEST_PG_SKIP; exec "$@"; }
PG_CTL=$(find_bin pg_ctl) || { TALLYGLASS_TEST_PG_SKIP="PostgreSQL binaries not found (pg_ctl): install the postgresql package (scripts/setup.sh)"; export TALLYGLASS_TEST_PG_SKIP; exec "$@"; }
CREATEDB=$(find_bin createdb) || { TALLYGLASS_TEST_PG_SKIP="PostgreSQL binaries not found (createdb): install the postgresql package (scripts/setup.sh)"; export TALLYGLASS_TEST_PG_SKIP; exec "$@"; }

# PostgreSQL refuses to run as root: the cluster belongs to postgres then.
AS=()
if [ "$(id -u)" -eq 0 ]; then
  if ! id postgres >/dev/null 2>&1; then
    echo "pg_server.sh: running as root and there is no postgres user" >&2
    exit 1
  fi
  AS=(runuser -u postgres --)
fi

# Under /tmp when the cluster belongs to postgres: it may not reach $TMPDIR.
TMPBASE=${TMPDIR:-/tmp}
[ ${#AS[@]} -gt 0 ] && TMPBASE=/tmp
TMP=$(mktemp -d "$TMPBASE/tallyglass-pg.XXXXXX")
chmod 755 "$TMP"
[ ${#AS[@]} -gt 0 ] && chown postgres "$TMP"
cleanup() {
  "${AS[@]}" "$PG_CTL" -D "$TMP/data" -m immediate -w stop >/dev/null 2>&1
  rm -rf "$TMP"
}
trap cleanup EXIT

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

if ! "${AS[@]}" "$INITDB" -D "$TMP/data" -A trust -U tallyglass -E UTF8 --locale=C --no-sync >"$TMP/initdb.log" 2>&1; then
  cat "$TMP/initdb.log" >&2
  exit 1
fi

started=
for attempt in 1 2 3 4 5 6 7 8; do
  PORT=$((20000 + (RANDOM % 30000)))
  port_free "$PORT" || continue
  if "${AS[@]}" "$PG_CTL" -D "$TMP/data" -l "$TMP/server.log" -w -t 60 \
       -o "-p $PORT -k $TMP -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off" start >/dev/null; then
    started=1
    break
  fi
done
if [ -z "$started" ]; then
  echo "pg_server.sh: the server did not start" >&2
  cat "$TMP/server.log" >&2
  exit 1
fi

if ! "$CREATEDB" -h 127.0.0.1 -p "$PORT" -U tallyglass tallyglass_test; then
  exit 1
fi

export TALLYGLASS_TEST_PG="postgresql://tallyglass@127.0.0.1:$PORT/tallyglass_test"
"$@"
