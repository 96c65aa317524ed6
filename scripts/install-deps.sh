#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Quiet, and does
# nothing at all, when every package is already there.
set -euo pipefail

packages=(
    g++ cmake ninja-build make pkg-config clang-format clang-tidy
    qt6-base-dev qt6-wayland
    libsqlite3-dev sqlite3
    libnl-route-3-dev libnl-genl-3-dev
    libglib2.0-dev libglib2.0-bin shared-mime-info
    libgtest-dev
    xvfb xauth xdotool x11-apps
    desktop-file-utils man-db
    iproute2
    dbus-daemon appstream
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    # Unpacked and configured, its triggers (man-db, mime) still to run: it is there.
    case "$status" in
    "install ok installed" | "install ok triggers-pending" | "install ok triggers-awaited") ;;
    *) missing+=("$p") ;;
    esac
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
