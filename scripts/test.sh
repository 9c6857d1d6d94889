#!/usr/bin/env bash
# Builds with warnings as errors and runs every test, builds the release
# packages and runs them unpacked, fuzzes every parser for a short while,
# cross-builds for Windows and runs the tests there under Wine, then builds
# again with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test once more. Fails on the first failure; ends with CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows

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

# Windows: the same tree cross-built with mingw-w64, its tests run under Wine
# in a Wine prefix of the build folder's own, and compared with this
# machine's build: every link of the corpus, and the examples against this
# machine's simulator over RFC 2217.
cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DMORVANE_WERROR=ON -DMORVANE_HOST_BUILD="$PWD/build/ci"
cmake --build build/windows
scripts/wine-session.sh start build/windows
trap 'scripts/wine-session.sh stop build/windows' EXIT
ctest --test-dir build/windows --output-on-failure -j "$jobs"
scripts/windows-zip.sh build/windows
scripts/wine-session.sh stop build/windows
trap - EXIT

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVANE_WERROR=ON -DMORVANE_SANITIZE=ON
cmake --build build/sanitize
ctest --test-dir build/sanitize --output-on-failure -j "$jobs"
