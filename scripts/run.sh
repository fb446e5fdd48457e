#!/usr/bin/env bash
# Installs what is missing, builds, and runs DriveTrek on the embedded database.
# The program works in the current directory of its run: its settings file
# drivetrek.ini and the embedded database files live there (default: ./run).
# With a display the main window opens; without one the program runs an unattended
# scan of the local drives ("/S") offscreen and prints what it did.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
workdir=${DRIVETREK_RUN_DIR:-$PWD/run}
mkdir -p "$workdir"
root=$PWD
cd "$workdir"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$root/build/app/drivetrek" "$@"
fi
echo "no display: running an unattended scan offscreen (drivetrek /S) in $workdir"
QT_QPA_PLATFORM=offscreen exec "$root/build/app/drivetrek" /S "$@"
