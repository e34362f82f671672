#!/usr/bin/env bash
# A throw-away PostgreSQL server from Debian's postgresql package for the shop database's
# tests and figures: its own cluster in DIR, on 127.0.0.1 at a free port, password
# authentication, and a role "fieldkit" (password "bench-secret", may create databases).
# As root the server runs as the user postgres, since PostgreSQL refuses to run as root.
#   pg_server.sh start DIR          makes and starts the cluster; prints the port
#   pg_server.sh pause DIR          stops the server, keeping its data (an outage)
#   pg_server.sh resume DIR         starts it again on the same port
#   pg_server.sh sql DIR DB SQL [ROLE]  runs SQL in database DB as the superuser, or as ROLE
#                                   (a login role whose password is "bench-secret")
#   pg_server.sh dump DIR DB FILE   a backup of database DB (pg_dump's custom format)
#   pg_server.sh restore DIR DB FILE  drops database DB and makes it again from the backup
#   pg_server.sh stop DIR           stops the server and removes DIR
# Exits 77 (the tests' "skipped") when the server's programs are not installed.
set -euo pipefail
action=$1 dir=$2
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ] || [ ! -x "$bin/pg_ctl" ]; then
  echo "PostgreSQL's server programs are not installed (Debian package postgresql): the shop database tests are skipped" >&2
  exit 77
fi
owner() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
as_role() { # role, password, then psql's arguments
  local role=$1 password=$2; shift 2
  PGPASSWORD=$password "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$(cat "$dir/port")" -U "$role" "$@"
}
superuser() { as_role postgres superuser-secret "$@"; }
run_server() {
  owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
    -o "-p $(cat "$dir/port") -k $dir -c listen_addresses=127.0.0.1 -c fsync=off" start > /dev/null
}

case $action in
start)
  rm -rf "$dir"
  mkdir -p "$dir"
  chmod 755 "$dir"
  [ "$(id -u)" -ne 0 ] || chown postgres: "$dir"
  echo superuser-secret > "$dir/superuser"
  owner "$bin/initdb" -D "$dir/data" -U postgres --auth=scram-sha-256 --pwfile="$dir/superuser" -E UTF8 \
    --locale=C.UTF-8 --no-sync > "$dir/initdb.log"
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' > "$dir/port"
  run_server
  superuser -d postgres -c "CREATE ROLE fieldkit LOGIN CREATEDB PASSWORD 'bench-secret'" \
    -c "CREATE DATABASE shop OWNER fieldkit"
  cat "$dir/port"
  ;;
pause) owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop > /dev/null ;;
resume) run_server ;;
sql) if [ -n "${5:-}" ]; then as_role "$5" bench-secret -d "$3" -c "$4"; else superuser -d "$3" -c "$4"; fi ;;
dump) PGPASSWORD=superuser-secret "$bin/pg_dump" -Fc -h 127.0.0.1 -p "$(cat "$dir/port")" -U postgres -d "$3" -f "$4" ;;
restore)
  superuser -d postgres -c "DROP DATABASE $3 WITH (FORCE)" -c "CREATE DATABASE $3 OWNER fieldkit"
  PGPASSWORD=superuser-secret "$bin/pg_restore" -h 127.0.0.1 -p "$(cat "$dir/port")" -U postgres -d "$3" "$4"
  ;;
stop)
  owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop > /dev/null 2>&1 || true
  rm -rf "$dir"
  ;;
*) echo "pg_server.sh: unknown action $action" >&2; exit 2 ;;
esac
