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
#   7. the Debian package built from build/ and checked (scripts/check-package.sh)
#   8. format check (clang-format) of every tracked .cpp and .h
# Each phase prints how long it took ("== <phase>: N s"). The server and its directory
# (which also holds the tests' XDG directories) are removed at the end; nothing else is
# touched.
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
cleanup() {
    bash scripts/pg.sh stop "$DRIVETREK_TEST_PG_DIR"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen
# Tests must never read or write the user's own system profile.
export DRIVETREK_PROFILE="$DRIVETREK_TEST_PG_DIR/win.ini"
# Nor the user's settings file and embedded database.
export XDG_CONFIG_HOME="$DRIVETREK_TEST_PG_DIR/xdg-config" XDG_DATA_HOME="$DRIVETREK_TEST_PG_DIR/xdg-data"

phase "tests under sanitizers (no windows, no browser, no load)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan -LE 'gui|browser|load' --output-on-failure --timeout 600 -j 2

phase "all tests"
ctest --test-dir build --output-on-failure --timeout 600 -j 2

phase "package (cpack from this build, lintian, desktop entry, systemd units, unpacked programs)"
bash scripts/check-package.sh build

phase "format check (clang-format)"
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || true)
if [ ${#files[@]} -gt 0 ]; then
    clang-format --dry-run --Werror "${files[@]}"
fi
phase
