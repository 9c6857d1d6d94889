#!/usr/bin/env bash
# Builds with warnings as errors and runs every test, builds the release
# packages and runs them unpacked, fuzzes every parser for a short while,
# then builds again with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test once more. Fails on the first failure; ends with CTest's
# summary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build/ci -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_WERROR=ON
cmake --build build/ci
ctest --test-dir build/ci --output-on-failure -j "$jobs"

# The .deb and .tar.gz, checked with lintian and run from fresh trees.
scripts/package.sh

# Every parser fuzzed with clang's libFuzzer: each target's corpus replayed,
# then 20 s of fuzzing each; any finding fails the run.
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DMORVANE_WERROR=ON
cmake --build build/fuzz --target morvane_fuzz
fuzz/run.sh build/fuzz 20

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVANE_WERROR=ON -DMORVANE_SANITIZE=ON
cmake --build build/sanitize
ctest --test-dir build/sanitize --output-on-failure -j "$jobs"
