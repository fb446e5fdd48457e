#!/usr/bin/env bash
# Runs a test program as an unprivileged user: as root, a copy of the program in a
# directory of its own under runuser (user nobody, or DT_UNPRIVILEGED_USER); as any other
# user, the program itself. Exits 77 (skipped) when there is no way to change user, and
# fails when the filter selects no test, so nothing passes without running.
#   as_unprivileged.sh PROGRAM ARGS...
set -euo pipefail
prog=$1
shift
log=$(mktemp /tmp/dt-unprivileged-log-XXXXXX)
dir=
cleanup() {
    rm -f "$log"
    if [ -n "$dir" ]; then rm -rf "$dir"; fi
}
trap cleanup EXIT

if [ "$(id -u)" != 0 ]; then
    status=0
    "$prog" "$@" 2>&1 | tee "$log" || status=$?
else
    user=${DT_UNPRIVILEGED_USER:-nobody}
    if ! command -v runuser >/dev/null || ! id -u "$user" >/dev/null 2>&1; then
        echo "skipped: runuser or the user $user is missing"
        exit 77
    fi
    # The build tree may not be readable by that user: the program is copied (the test
    # programs link the project's libraries statically).
    dir=$(mktemp -d /tmp/dt-unprivileged-XXXXXX)
    chmod 755 "$dir"
    cp "$prog" "$dir/"
    chmod 755 "$dir/$(basename "$prog")"
    mkdir "$dir/home"
    chown "$user" "$dir/home"
    status=0
    (cd "$dir/home" && runuser -u "$user" -- env HOME="$dir/home" TMPDIR="$dir/home" \
        DRIVETREK_PROFILE="$dir/home/win.ini" "$dir/$(basename "$prog")" "$@") 2>&1 | tee "$log" ||
        status=$?
fi
if [ "$status" != 0 ]; then exit "$status"; fi
if ! grep -Eq '^\[  PASSED  \] [1-9][0-9]* test' "$log"; then
    echo "no test ran"
    exit 1
fi
if grep -q '^\[  SKIPPED \]' "$log"; then
    echo "a test was skipped as an unprivileged user"
    exit 1
fi
