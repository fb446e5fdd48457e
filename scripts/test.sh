#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit, embedded-database and
# window tests, the PostgreSQL tests against a server started here on 127.0.0.1, then the
# tests that need no window again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

echo "== build"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo

pg=$(bash scripts/pg.sh start)
eval "$pg"
# psqlODBC as Debian registers it (CommLog=1) writes a small log to /tmp when a connection
# closes, whatever the connection string says; the test programs' logs go with the server.
cleanup() {
    bash scripts/pg.sh stop "$DRIVETREK_TEST_PG_DIR"
    rm -f /tmp/psqlodbc_*tests*.log /tmp/psqlodbc_*bench*.log /tmp/psqlodbc_drivetrek_*.log /tmp/psqlodbc_dtfind_*.log \
        /tmp/psqlodbc_dtsql_*.log /tmp/psqlodbc_drivetrek-web_*.log
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen
# Tests must never read or write the user's own system profile.
export DRIVETREK_PROFILE="$DRIVETREK_TEST_PG_DIR/win.ini"

echo "== sanitizer build"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DDT_SANITIZE=ON
echo "== tests under sanitizers (no windows, no browser, no load)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan -LE 'gui|browser|load' --output-on-failure --timeout 600 -j 2 --repeat until-pass:2

echo "== all tests"
ctest --test-dir build --output-on-failure --timeout 600 -j 2 --repeat until-pass:2

echo "== format check (clang-format)"
files=$(git ls-files '*.cpp' '*.h' 2>/dev/null || true)
if [ -n "$files" ]; then
    # shellcheck disable=SC2086
    clang-format --dry-run --Werror $files
fi
