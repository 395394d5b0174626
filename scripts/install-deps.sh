#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Quorvel need.
# Does nothing when they are all present, so it is safe to run before every build.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    libgtest-dev
    libpugixml-dev
    freeglut3-dev libglu1-mesa-dev libgl1-mesa-dev libgl1-mesa-dri
    libpng-dev
    xvfb xauth xdotool x11-apps netpbm
    clang libclang-rt-14-dev
    libcli11-dev
    libzip-dev libexpat1-dev zip unzip
    libsmf-dev
    libfluidsynth-dev fluid-soundfont-gm libebur128-dev
    libegl-dev libegl1-mesa-dev libgbm-dev
    libavformat-dev libavcodec-dev libswresample-dev libavutil-dev ffmpeg libyuv-dev
    sox
    libglm-dev libfreetype-dev fonts-dejavu-core
    python3
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
