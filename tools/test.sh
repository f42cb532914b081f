#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: in the normal
# build and in the sanitizer build (address and undefined behaviour).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/deps.sh

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZPL_SANITIZE=ON
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"
