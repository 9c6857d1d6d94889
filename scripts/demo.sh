#!/usr/bin/env bash
# Builds everything and runs the main job on the simulated module: example
# programs from examples/, linked against our class library, downloaded with
# `morvanedirect --port sim --listen` and listened to, so what the program
# prints (and an exception nothing caught, with its class, source file and
# line) shows without a board on the desk.
#
#   scripts/demo.sh              Hello, then Crash (which ends with an exception)
#   scripts/demo.sh Echo         one example; Echo answers the lines you type
#                                (a '.' ends it)
#
# A module runs until it is switched off, and morvanedirect listens until it
# is interrupted: each run here ends when the simulator reports that the
# program has stopped (or after a time-out, except for an example named at a
# terminal, which waits for its user), with the Ctrl-C a user would type.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=OFF >/dev/null
cmake --build "$build"

root=$(pwd)
bin=$root/$build/bin
classpath="$root/$build/examples/classes;$root/$build/share/morvane/lib"
work=$root/$build/demo
mkdir -p "$work"
time_limit=30
# Someone who names an example at a terminal may be typing to it.
if [ $# -gt 0 ] && [ -t 0 ]; then time_limit=0; fi

# Keep the terminal as the program's keyboard: a background job would read
# from /dev/null otherwise.
exec 3<&0

run() {
  local example=$1
  local notices="$work/$example.notices"
  echo
  echo "demo: morvanedirect --port sim --listen --path \"$classpath\" $example"
  (cd "$work" && exec "$bin/morvanedirect" --port sim --listen --path "$classpath" "$example") \
    <&3 2> >(tee "$notices" >&2) &
  local host=$!
  local ended=""
  for ((tenth = 0; time_limit == 0 || tenth < time_limit * 10; tenth++)); do
    if ! kill -0 "$host" 2>/dev/null; then break; fi
    ended=$(grep -o "program \(ended\|halted\).*" "$notices" 2>/dev/null || true)
    if [ -n "$ended" ]; then break; fi
    sleep 0.1
  done
  # The host shows what arrives at its next look at the port: give it that.
  sleep 0.5
  local status=0
  if kill -0 "$host" 2>/dev/null; then
    kill -INT "$host"
    wait "$host" || status=$?
  else
    wait "$host" || status=$?
    echo "demo: morvanedirect ended by itself with exit status $status"
    return "$status"
  fi
  if [ -n "$ended" ]; then
    echo "demo: $example has ended on the module; listening stopped with Ctrl-C"
  else
    echo "demo: no end of $example within $time_limit s; listening stopped with Ctrl-C"
  fi
}

if [ $# -gt 0 ]; then
  for example in "$@"; do run "$example"; done
else
  run Hello
  run Crash
fi
