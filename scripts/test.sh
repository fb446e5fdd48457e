#!/usr/bin/env bash
# Installs what is missing and runs every check, in this order:
#   1. shellcheck on scripts/*.sh and .ci/run
#   2. build: build/ (RelWithDebInfo, with the window layer)
#   3. sanitizer build: build-asan/ (Debug, AddressSanitizer and UndefinedBehaviorSanitizer,
#      -DDT_GUI=OFF: without the window layer, so a window include where none belongs
#      breaks it)
#   4. a private PostgreSQL server on 127.0.0.1 for the pg tests (scripts/pg.sh)
#   5. the sanitizer build's tests (every test not labelled gui)
#   6. every test of build/ (unit, sqlite, pg and gui; windows offscreen)
#   7. format check (clang-format) of every tracked .cpp and .h
# Each phase prints how long it took ("== <phase>: N s"). The server, its directory and the
# private ODBC driver settings made here are removed at the end; nothing else is touched.
set -euo pipefail
cd "$(dirname "$0")/.."

phase_name=""
phase_start=0
# Ends the running phase (printing its time) and starts the next one, if named.
phase() {
    if [ -n "$phase_name" ]; then
        echo "== $phase_name: $((SECONDS - phase_start)) s"
    fi
    phase_name=${1:-}
    phase_start=$SECONDS
    if [ -n "$phase_name" ]; then
        echo "== $phase_name"
    fi
}

phase "install"
bash scripts/install-deps.sh

phase "shellcheck"
shellcheck scripts/*.sh .ci/run

phase "build"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo

phase "sanitizer build (no windows)"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DDT_SANITIZE=ON -DDT_GUI=OFF

phase "PostgreSQL start"
pg=$(bash scripts/pg.sh start)
eval "$pg"
# The ODBC driver list as the system registers it, with psqlODBC's communication log off:
# Debian registers it with CommLog=1, which leaves a log in /tmp for every connection
# whatever the connection string says. The copy lives in the server's directory and goes
# with it.
odbc_dir="$DRIVETREK_TEST_PG_DIR/odbc"
mkdir "$odbc_dir"
sed 's/^CommLog=1$/CommLog=0/' /etc/odbcinst.ini >"$odbc_dir/odbcinst.ini"
if [ -f /etc/odbc.ini ]; then cp /etc/odbc.ini "$odbc_dir/odbc.ini"; else : >"$odbc_dir/odbc.ini"; fi
export ODBCSYSINI="$odbc_dir"
cleanup() {
    bash scripts/pg.sh stop "$DRIVETREK_TEST_PG_DIR"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen
# Tests must never read or write the user's own system profile.
export DRIVETREK_PROFILE="$DRIVETREK_TEST_PG_DIR/win.ini"

phase "tests under sanitizers (no windows)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan -LE gui --output-on-failure --timeout 600 -j 2 --repeat until-pass:2

phase "all tests"
ctest --test-dir build --output-on-failure --timeout 600 -j 2 --repeat until-pass:2

phase "format check (clang-format)"
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || true)
if [ ${#files[@]} -gt 0 ]; then
    clang-format --dry-run --Werror "${files[@]}"
fi
phase
