#!/usr/bin/env bash
# Builds the Debian package from an existing build (no extra compilation) and checks it:
# lintian reports no error, the desktop entry and the systemd units are valid, and
# the programs unpacked from the package answer --version and --help.
#   usage: scripts/check-package.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build "$build" --target dt_packaging_files >/dev/null
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work" >cpack.log 2>&1) || {
    cat "$work/cpack.log"
    exit 1
}
deb=$(ls "$work"/drivetrek_*.deb)
echo "package: $(basename "$deb")"
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$'

# No errors (warnings are printed for the reader).
lintian --fail-on error --allow-root "$deb"

root="$work/root"
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/drivetrek.desktop"
# The units as installed, with the program's path inside the unpacked root (verify checks
# that ExecStart names an executable).
mkdir -p "$work/units" "$work/runtime"
chmod 700 "$work/runtime"
for unit in drivetrek-scan.service drivetrek-scan.timer; do
    sed "s|/usr/bin/drivetrek|$root/usr/bin/drivetrek|" "$root/usr/lib/systemd/user/$unit" >"$work/units/$unit"
done
XDG_RUNTIME_DIR="$work/runtime" systemd-analyze --user verify --man=no \
    "$work/units/drivetrek-scan.service" "$work/units/drivetrek-scan.timer"
sed "s|/usr/bin/drivetrek-web|$root/usr/bin/drivetrek-web|" \
    "$root/usr/lib/systemd/system/drivetrek-web.service" >"$work/units/drivetrek-web.service"
systemd-analyze verify --man=no "$work/units/drivetrek-web.service"

version=$("$root/usr/bin/dtfind" --version)
[[ $version =~ ^dtfind\ [0-9.]+\ \(git\ ([0-9a-f]{7}|unknown)\)$ ]] || {
    echo "unexpected version line: $version" >&2
    exit 1
}
echo "$version"
"$root/usr/bin/drivetrek-web" --version | grep -q '^drivetrek-web ' || {
    echo "drivetrek-web --version does not answer" >&2
    exit 1
}
"$root/usr/bin/drivetrek" --help | grep -q 'drivetrek.ini' || {
    echo "drivetrek --help does not name the settings file" >&2
    exit 1
}
echo "package checked"
