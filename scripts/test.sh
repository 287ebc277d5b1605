#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: once in a normal
# build, once under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Light optimisation and little debug info keep the two builds quick on
# small machines; the libraries doing the heavy work are optimised anyway.
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1
(cd build && ctest -j"$(nproc)" --output-on-failure)

bash scripts/build.sh build-asan -DFOTOREEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -g1"
(cd build-asan && ctest -j"$(nproc)" --output-on-failure)
