#!/usr/bin/env bash
# Installs what is missing, builds and runs the application's main job: the
# window where a display is available, otherwise the library diagnostic.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec ./build/app/fotoreel
fi
echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): running the library diagnostic instead." >&2
exec ./build/tools/fotoreel-diag
