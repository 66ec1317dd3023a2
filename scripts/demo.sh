#!/usr/bin/env bash
# Builds kerv32 and shows its main job on a small sample tree: a recursive
# sweep for *.tmp files with an exclusion, first simulated, then for real.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
kerv32=$PWD/build/release/kerv32

tree=$(mktemp -d /tmp/kerv32-demo-XXXXXX)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/build/obj" "$tree/docs" "$tree/.cache"
printf 'scratch\n' > "$tree/session.tmp"
printf 'OLD DATA\n' > "$tree/OLD.TMP"
printf 'keep me\n' > "$tree/notes.txt"
head -c 1500 /dev/zero > "$tree/build/obj/main.tmp"
head -c 700 /dev/zero > "$tree/build/link.Tmp"
printf 'keep\n' > "$tree/build/KEEP.tmp"
printf 'report\n' > "$tree/docs/report.doc"
printf 'hidden\n' > "$tree/.cache/hidden.tmp"

echo "\$ kerv32 -S -R '$tree/*.tmp' ! 'keep*.*'    # simulate: report, delete nothing"
"$kerv32" -S -R "$tree/*.tmp" ! 'keep*.*' || true
echo
echo "\$ kerv32 -R '$tree/*.tmp' ! 'keep*.*'"
"$kerv32" -R "$tree/*.tmp" ! 'keep*.*' || true
echo
echo "Left in the tree:"
(cd "$tree" && find . -type f | sort)
