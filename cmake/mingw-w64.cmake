# Windows (x86-64) from Debian's mingw-w64 cross compiler:
#
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release
#
# The POSIX-threads variant of the compiler: the win32 variant's standard
# library has no std::mutex or std::thread, which GoogleTest needs.
# Test executables run under Wine, in a Wine prefix of the build's own
# (never the user's), so that CTest and GoogleTest's discovery work here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MORVANE_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER ${MORVANE_MINGW_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER ${MORVANE_MINGW_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER ${MORVANE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MORVANE_MINGW_PREFIX})
# Build tools (ecj, Python, Wine) are this machine's; libraries and headers
# are the target's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in: a program that needs the compiler's DLLs exits
# silently (status 53 under Wine) on a machine that lacks them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# scripts/wine-session.sh starts the prefix's server detached from every
# pipe first; without it, the first program of a test run creates the prefix
# (several seconds) and the server it starts holds the test's output open a
# few seconds after every program.
# env, which becomes the program it starts, rather than cmake -E env, which
# waits for it: a Ctrl-C sent to the test's program must reach Wine.
find_program(MORVANE_WINE wine)
find_program(MORVANE_ENV env)
if(MORVANE_WINE AND MORVANE_ENV AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MORVANE_ENV} WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all ${MORVANE_WINE})
endif()
