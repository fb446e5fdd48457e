#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing DriveTrek need.
# Does nothing when they are all present; needs root (or sudo) otherwise.
set -euo pipefail
packages=(
    cmake ninja-build g++ pkg-config python3
    qt6-base-dev fonts-dejavu-core
    unixodbc unixodbc-dev odbcinst libsqliteodbc sqlite3
    odbc-postgresql postgresql
    tdsodbc
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdg-utils clang-format shellcheck dbus
    plocate
    libcli11-dev nlohmann-json3-dev
    lintian desktop-file-utils dpkg-dev systemd
    libcpp-httplib-dev chromium chromium-driver python3-selenium
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
