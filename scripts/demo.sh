#!/usr/bin/env bash
# Builds kerv32 alone (no tests) and shows its main job on a small sample
# tree under build/demo: a recursive sweep for *.tmp files with an
# exclusion, first simulated, then for real. The commands it shows can be
# copied and run again; the tree is made anew at each run.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "Building kerv32 (the first time takes a few seconds)..."
cmake --preset program >/dev/null
cmake --build --preset program
kerv32=$PWD/build/program/kerv32

tree=$PWD/build/demo
rm -rf "$tree"
mkdir -p "$tree/build/obj" "$tree/docs" "$tree/.cache"
printf 'scratch\n' > "$tree/session.tmp"
printf 'OLD DATA\n' > "$tree/OLD.TMP"
printf 'keep me\n' > "$tree/notes.txt"
head -c 1500 /dev/zero > "$tree/build/obj/main.tmp"
head -c 700 /dev/zero > "$tree/build/link.Tmp"
printf 'keep\n' > "$tree/build/KEEP.tmp"
printf 'report\n' > "$tree/docs/report.doc"
printf 'hidden\n' > "$tree/.cache/hidden.tmp"

echo
echo "\$ $kerv32 -S -R '$tree/*.tmp' ! 'keep*.*'    # simulate: report, delete nothing"
"$kerv32" -S -R "$tree/*.tmp" ! 'keep*.*' || true
echo
echo "\$ $kerv32 -R '$tree/*.tmp' ! 'keep*.*'"
"$kerv32" -R "$tree/*.tmp" ! 'keep*.*' || true
echo
echo "Left in $tree:"
(cd "$tree" && find . -type f | sort)
