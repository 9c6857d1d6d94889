#!/usr/bin/env bash
# Builds the tool and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=OFF >/dev/null
cmake --build build/release

build/release/bin/morvanedirect
