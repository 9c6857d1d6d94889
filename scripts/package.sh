#!/usr/bin/env bash
# Builds the release packages in build/release and checks what a user gets:
#
#   morvane_<version>_<arch>.deb     (cpack -G DEB, the tree under /usr)
#   morvane-<version>-Linux.tar.gz   (cpack -G TGZ, the same tree)
#
# The .deb is listed and judged by lintian (no error may remain). Then three
# trees are run where they lie, each from a fresh folder: `cmake --install`
# into a new prefix, the .deb unpacked with dpkg -x, and the archive
# unpacked. In each, the examples shipped in share/doc/morvane/examples are
# compiled with ecj against the tree's class library, and each runs with the
# tree's `morvanedirect --port sim --listen` and its `morvane-desktop`: the
# two outputs must be the same. The tree's own README must speak of the tree
# (no scripts/ or build/ of the repository), and the --pty example that the
# tree's `morvane-sim --help` prints must work as typed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=OFF -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
cmake --build "$build"
rm -f "$build"/morvane_*.deb "$build"/morvane-*.tar.gz
(cd "$build" && cpack -G DEB >/dev/null && cpack -G TGZ >/dev/null)
deb=$(ls "$build"/morvane_*.deb)
tgz=$(ls "$build"/morvane-*.tar.gz)

echo "== $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
echo "== lintian $deb"
lintian --fail-on error --tag-display-limit 3 "$deb"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What the tree must hold, relative to its prefix.
shipped=(
  bin/morvanedirect bin/morvane-sim bin/morvane-run bin/morvane-desktop bin/morvane-size
  lib/morvane/preload/libmorvane_modemlines.so
  share/morvane/lib/java/lang/Object.class share/morvane/lib/tolve/core/CPU.class
  share/morvane/src/java/lang/Object.java share/morvane/src/tolve/core/CPU.java
  share/morvane/desktop/tolve/core/CPU.class share/morvane/desktop/morvane/desktop/DesktopLauncher.class
  share/doc/morvane/README.md share/doc/morvane/runtime/README.md share/doc/morvane/docs/simulator.md
  share/doc/morvane/docs/troubleshooting.md share/doc/morvane/examples/Hello.java
  share/doc/morvane/docs/bench.md share/doc/morvane/docs/size.md share/doc/morvane/docs/debugging.md share/doc/morvane/examples/Blink.bench.toml
  share/doc/morvane/examples/bench/Button.java share/doc/morvane/examples/bench/Button.bench.toml
  share/man/man1/morvanedirect.1.gz share/man/man1/morvane-sim.1.gz share/man/man1/morvane-desktop.1.gz
  share/man/man1/morvane-run.1.gz share/man/man1/morvane-size.1.gz
)

check_tree() {
  local root=$1
  echo "== the programs in $root"
  for file in "${shipped[@]}"; do
    [ -e "$root/$file" ] || { echo "missing from the tree: $file" >&2; return 1; }
  done
  for page in "$root"/share/man/man1/*.1.gz; do
    local warnings
    warnings=$(gzip -dc "$page" | groff -man -ww -z 2>&1)
    [ -z "$warnings" ] || { echo "$page: $warnings" >&2; return 1; }
  done
  local classes=$root.classes
  mkdir -p "$classes"
  ecj -1.3 -target 1.1 -g -nowarn -bootclasspath "$root/share/morvane/lib" -d "$classes" \
    "$root"/share/doc/morvane/examples/*.java
  # The headless runner from the tree alone: a program that ends passes.
  "$root/bin/morvane-run" --path "$classes;$root/share/morvane/lib" --expect-text "Hello" Hello >/dev/null ||
    { echo "morvane-run did not pass Hello in $root" >&2; return 1; }
  for source in "$root"/share/doc/morvane/examples/*.java; do
    local program input=()
    program=$(basename "$source" .java)
    [ -f "tests/differential/inputs/$program.input" ] && input=(--input "$PWD/tests/differential/inputs/$program.input")
    local compared
    compared=$(cd "$work" && python3 "$OLDPWD/tests/differential/run_differential.py" --program "$program" \
      --classes "$classes" --lib "$root/share/morvane/lib" --bin "$root/bin" "${input[@]}") ||
      { echo "$compared"; echo "$program: morvanedirect and morvane-desktop disagree in $root" >&2; return 1; }
    [ -n "$compared" ] || { echo "$program printed nothing in $root" >&2; return 1; }
    echo "$program: the same on the simulated module and the desktop JVM"
    # Taken whole before it is searched: grep -q leaves at the first match,
    # and a report still being written would die of the closed pipe.
    local report
    report=$("$root/bin/morvane-size" --json --path "$root/share/morvane/lib;$classes" "$program") || true
    grep -q '"schema": "morvane-size/1"' <<<"$report" ||
      { echo "$program: morvane-size gave no report in $root" >&2; return 1; }
  done
  if grep -nE 'scripts/|build/|tools/' "$root/share/doc/morvane/README.md"; then
    echo "the installed README speaks of the repository, not of the tree" >&2; return 1
  fi
  check_pty_example "$root" "$classes"
}

# The --pty example of `morvane-sim --help`, typed in a folder whose classes/
# holds the examples: a simulator on /tmp/morvane (here a link of our own
# folder), then the host with the modem-line library preloaded, which must
# find the module, download and listen.
check_pty_example() {
  local root=$1 classes=$2 usage preload host line=$work/pty/line
  usage=$("$root/bin/morvane-sim" --help)
  preload=$(sed -n 's/^ *LD_PRELOAD=\([^ ]*\) .*/\1/p' <<<"$usage")
  host=$(grep -A1 '^ *LD_PRELOAD=' <<<"$usage" | tail -n 1 | sed 's|/tmp/morvane|'"$line"'|')
  [ -e "$preload" ] || { echo "morvane-sim --help preloads $preload, which $root lacks" >&2; return 1; }
  mkdir -p "$work/pty" && rm -rf "$work/pty/classes" && cp -r "$classes" "$work/pty/classes"
  coproc SIM { "$root/bin/morvane-sim" --pty "$line" --exit-on-eof 2>/dev/null; }
  local announced
  read -r -t 5 announced <&"${SIM[0]}" || true
  [ "$announced" = "pty $line" ] || { echo "morvane-sim --pty did not start: $announced" >&2; return 1; }
  local shown
  shown=$(cd "$work/pty" && PATH="$root/bin:$PATH" LD_PRELOAD=$preload timeout -s INT 10 \
    bash -c "eval \"\$0\"" "$host" 2>&1 </dev/null) || true
  eval "exec ${SIM[1]}>&-"
  wait "$SIM_PID" || true
  grep -q "^Listening for messages" <<<"$shown" && grep -q "Hello from the Morvane module" <<<"$shown" ||
    { echo "the --pty example of morvane-sim --help failed in $root:"; echo "$shown"; return 1; }
  echo "morvane-sim --help's --pty example works as typed in $root"
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null
check_tree "$work/prefix"

dpkg -x "$deb" "$work/deb"
check_tree "$work/deb/usr"

mkdir "$work/tgz"
tar -xzf "$tgz" -C "$work/tgz"
check_tree "$(ls -d "$work"/tgz/*)"

ls -l "$deb" "$tgz"
