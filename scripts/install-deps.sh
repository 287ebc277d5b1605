#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Idempotent: packages already present are not touched, and nothing is
# printed when all of them are there.
set -euo pipefail

PACKAGES=(
  build-essential g++ cmake pkg-config git
  libgtest-dev
  clang libclang-rt-14-dev
  libavcodec-dev libavformat-dev libavutil-dev libavfilter-dev
  libswscale-dev libswresample-dev libavdevice-dev
  libavcodec59 libavformat59 libavutil57 libavfilter8
  libswscale6 libswresample4 libavdevice59
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  qt6-image-formats-plugins
  fonts-wqy-microhei fontconfig
  xvfb xauth xdg-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
