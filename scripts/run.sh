#!/usr/bin/env bash
# Installs what is missing, builds and runs the application's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
./build/tools/fotoreel-diag
