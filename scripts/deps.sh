#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing H8 Controller need.
# Only missing packages are installed; `apt-get update` runs once, and only when something is
# missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev fonts-noto-cjk
    libusb-1.0-0-dev libglib2.0-dev
    umockdev libumockdev-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libssl-dev
    clang libclang-rt-14-dev
    pipewire pipewire-bin wireplumber dbus dbus-daemon libpipewire-0.3-dev libspa-0.2-dev
    lintian desktop-file-utils appstream librsvg2-bin
    xvfb xauth x11-utils qt6-l10n-tools qt6-tools-dev qt6-tools-dev-tools at-spi2-core python3-pyatspi
    python3-gi python3-dbusmock weston qt6-wayland
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
