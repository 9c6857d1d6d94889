#!/usr/bin/env bash
# Packs a Windows build into the zip a Windows user downloads and checks what
# it holds: `cpack -G ZIP` in the build folder, the zip unpacked into a fresh
# folder, the examples it ships compiled against its class library, and each
# run from there with its `morvanedirect.exe --port sim --listen` under Wine,
# its output compared with the desktop JVM's.
#
#   scripts/windows-zip.sh build/windows     (after scripts/wine-session.sh start)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:?the Windows build folder}" && pwd)

rm -f "$build"/morvane-*.zip
(cd "$build" && cpack -G ZIP >/dev/null)
zip=$(ls "$build"/morvane-*.zip)
echo "== $zip"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# cmake unpacks zips itself: no unzip program needed.
(cd "$work" && cmake -E tar xf "$zip")
root=$(ls -d "$work"/morvane-*)
for file in bin/morvanedirect.exe bin/morvane-sim.exe bin/morvane-run.exe bin/morvane-size.exe share/morvane/lib/java/lang/Object.class \
            share/morvane/lib/tolve/core/CPU.class share/doc/morvane/README.md \
            share/doc/morvane/docs/troubleshooting.md share/doc/morvane/docs/bench.md share/doc/morvane/docs/size.md share/doc/morvane/docs/debugging.md \
            share/doc/morvane/examples/Hello.java share/doc/morvane/examples/bench/Button.bench.toml; do
  [ -e "$root/$file" ] || { echo "missing from the zip: $file" >&2; exit 1; }
done

classes=$work/classes
mkdir -p "$classes"
ecj -1.3 -target 1.1 -g -nowarn -bootclasspath "$root/share/morvane/lib" -d "$classes" \
  "$root"/share/doc/morvane/examples/*.java
run_with="env WINEPREFIX=$build/wine WINEDEBUG=-all wine"
# This machine's build of the same tree (the Windows build's MORVANE_HOST_BUILD).
host_build=$(sed -n 's/^MORVANE_HOST_BUILD:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -x "$host_build/bin/morvane-size" ] || { echo "no morvane-size in MORVANE_HOST_BUILD ($host_build)" >&2; exit 1; }
for source in "$root"/share/doc/morvane/examples/*.java; do
  program=$(basename "$source" .java)
  input=tests/differential/inputs/$program.input
  echo "== $program from the zip"
  python3 tests/differential/run_differential.py --program "$program" --classes "$classes" \
    --bin "$root/bin" --suffix .exe --run-with "$run_with" --lib "$root/share/morvane/lib" \
    --desktop "$build/tests/host-bin/morvane-desktop" $([ -f "$input" ] && echo --input "$input") >/dev/null
  # The same report as this machine's build gives: nothing in it depends on the system.
  $run_with "$root/bin/morvane-size.exe" --json --path "Z:$root/share/morvane/lib;Z:$classes" "$program" | tr -d '\r' \
    > "$work/size-windows.json"
  "$host_build/bin/morvane-size" --json --path "$root/share/morvane/lib;$classes" "$program" > "$work/size-host.json"
  cmp "$work/size-windows.json" "$work/size-host.json" || { echo "$program: morvane-size.exe reports otherwise" >&2; exit 1; }
done
echo "windows zip: every example ran from the unpacked zip as on the desktop JVM"
