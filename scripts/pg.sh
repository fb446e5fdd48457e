#!/usr/bin/env bash
# A throw-away PostgreSQL 15 for the tests, on 127.0.0.1 only.
#   scripts/pg.sh start   starts one in a new temporary directory and prints `export` lines
#                         (DRIVETREK_TEST_PG_HOST/PORT/USER/PASSWORD/DIR) to eval
#   scripts/pg.sh stop DIR  stops the server of that directory and removes the directory
# PostgreSQL refuses to run as root, so the server runs as the `postgres` user that the
# package creates. Logins over TCP need the password (so refused logins can be tested).
set -euo pipefail
PGBIN=${PGBIN:-/usr/lib/postgresql/15/bin}

as_postgres() {
    if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

case "${1:-}" in
start)
    dir=$(mktemp -d /tmp/drivetrek-pg.XXXXXX)
    chmod 755 "$dir"
    [ "$(id -u)" = 0 ] && chown postgres: "$dir"
    password=dtpass
    printf '%s\n' "$password" > "$dir/pwfile"
    [ "$(id -u)" = 0 ] && chown postgres: "$dir/pwfile"
    as_postgres "$PGBIN/initdb" -D "$dir/data" -U postgres --pwfile="$dir/pwfile" \
        --auth-local=trust --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
        || { cat "$dir/initdb.log" >&2; exit 1; }
    port=$(free_port)
    as_postgres "$PGBIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null \
        || { cat "$dir/server.log" >&2; exit 1; }
    echo "export DRIVETREK_TEST_PG_HOST=127.0.0.1"
    echo "export DRIVETREK_TEST_PG_PORT=$port"
    echo "export DRIVETREK_TEST_PG_USER=postgres"
    echo "export DRIVETREK_TEST_PG_PASSWORD=$password"
    echo "export DRIVETREK_TEST_PG_DIR=$dir"
    ;;
stop)
    dir=${2:?usage: pg.sh stop DIR}
    if [ -d "$dir/data" ]; then
        as_postgres "$PGBIN/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    fi
    case "$dir" in /tmp/drivetrek-pg.*) rm -rf "$dir" ;; esac
    ;;
*)
    echo "usage: $0 start | stop DIR" >&2
    exit 2
    ;;
esac
