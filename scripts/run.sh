#!/usr/bin/env bash
# Installs what is missing, builds and runs the application's main job: the
# window where a display is available, otherwise the command-line companion
# converting the bundled sample pictures.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec ./build/app/fotoreel
fi
echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): converting the sample pictures in samples/ with the command-line companion." >&2
video="$(./build/app/cli/fotoreel-cli samples/*)"
echo "Video written: $video"
