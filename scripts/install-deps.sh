#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs, through apt-get, only the Debian packages that the build and the
# tests need and that are not installed yet (with `bench`, also the peers the
# benchmarks compare with). Does nothing when all are there.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
# What the build needs is the Debian package's Build-Depends, one list for
# both: the names in the field, one a line, without their versions, and
# debhelper for the debhelper-compat it provides.
mapfile -t build_depends < <(sed -n '/^Build-Depends:/,/^[^ ]/{/^ /p}' "$top/debian/control" |
    sed 's/[(,].*//; s/ //g; s/^debhelper-compat$/debhelper/')

packages=(
    # build: the compiler, make and dpkg-buildpackage, and the Build-Depends
    build-essential dpkg-dev "${build_depends[@]}"
    # tests: the unit tests' framework, a virtual display, input and
    # screenshots, test MP3s
    libgtest-dev xvfb xdotool imagemagick sox lame fonts-dejavu-core
    # tests: real sound servers (PulseAudio, and PipeWire with its session
    # manager and its PulseAudio service), tracing, fuzzing
    pulseaudio pulseaudio-utils pipewire pipewire-bin pipewire-pulse wireplumber
    strace clang libclang-rt-14-dev
    # tests: a private session bus and media-control clients
    dbus-daemon dbus-bin playerctl
    # tests: the window and the chords on Wayland compositors, natively and
    # over XWayland, with keys typed into them
    weston sway qt6-wayland xwayland wtype
    # tests of the package: validators, its checker, reading what it installs
    desktop-file-utils appstream lintian file hicolor-icon-theme man-db
)
if [ "${1:-}" = bench ]; then
    packages+=(mpg123 mpv openbox)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
