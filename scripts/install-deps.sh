#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, but
# only those that are missing, so a prepared machine is not touched.
#
#   scripts/install-deps.sh           what the build, the tests and the demo need
#   scripts/install-deps.sh windows   that, and the cross compiler and Wine for
#                                     the Windows build and its tests
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev   # build and unit tests
  ecj                                  # compiles our Java class library and test programs
  python3-serial                       # the RFC 2217 server the port and integration tests talk to
  clang libclang-rt-dev                # libFuzzer and the sanitizers' runtime for the fuzz targets
  dpkg-dev file lintian groff-base     # the Debian package: its dependencies, its check, the manual pages
  libtomlplusplus-dev nlohmann-json3-dev # bench files and reports (header-only: the Windows build uses them too)
  sigrok-cli gtkwave                   # real readers of the bench's waveform files, in the tests
  openjdk-17-jdk-headless              # jdb and com.sun.jdi: the real debuggers the runner's debugger tests attach
)
if [ "${1:-}" = windows ]; then
  # The POSIX-threads variant: the win32 one's standard library has no
  # std::mutex or std::thread.
  packages+=(g++-mingw-w64-x86-64-posix wine)
fi
# The desktop JVM the simulator's output is compared with comes with the JDK
# above.

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# A fresh machine may have no package lists yet: fetch them only when needed.
if ! $sudo apt-get install -y --no-install-recommends "${missing[@]}"; then
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
