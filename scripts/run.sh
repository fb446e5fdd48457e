#!/usr/bin/env bash
# Installs what is missing, builds the program, and runs DriveTrek on the embedded database.
# The program works in ./run (or $DRIVETREK_RUN_DIR): the first run writes a
# drivetrek.ini there, so the settings and the embedded database files stay in that
# directory. With a display the main window opens; without one the program runs an
# unattended scan of the local drives ("/S") offscreen and prints what it did.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target drivetrek
workdir=${DRIVETREK_RUN_DIR:-$PWD/run}
mkdir -p "$workdir"
# A drivetrek.ini in the working directory keeps everything there (the programs would
# otherwise use the user's XDG directories).
if [ ! -e "$workdir/drivetrek.ini" ]; then
    (umask 077 && printf '[database]\nserver=Server\ndatabase=master\nuser=sa\npass=\n' >"$workdir/drivetrek.ini")
fi
root=$PWD
cd "$workdir"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$root/build/app/drivetrek" "$@"
fi
echo "no display: running an unattended scan offscreen (drivetrek /S) in $workdir"
QT_QPA_PLATFORM=offscreen exec "$root/build/app/drivetrek" /S "$@"
