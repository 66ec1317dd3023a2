#!/usr/bin/env bash
# Builds the Debian package and the Windows zip, checks what each holds, and
# runs the packaged programs from extracted copies: nothing is installed on
# this machine. Needs the Windows builds (scripts/test-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
export WINEDEBUG=-all WINEPREFIX="$PWD/build/wine"
trap 'rm -rf "$scratch"; wineserver -k 2>/dev/null || true' EXIT
passed=0
check() {  # what is checked, then the command that checks it
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $what"; else echo "FAILED: $what"; exit 1; fi
}

# The Debian package: the program, its man page, the copyright and changelog.
rm -rf build/program
cmake --workflow --preset deb >/dev/null
deb=$(ls build/program/kerv32_*.deb)
echo "package: $deb"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort >"$scratch/files"
printf '%s\n' ./usr/bin/kerv32 ./usr/share/doc/kerv32/changelog.gz ./usr/share/doc/kerv32/copyright \
  ./usr/share/man/man1/kerv32.1.gz >"$scratch/expected"
check "the package holds the program, its man page, copyright and changelog" diff "$scratch/expected" "$scratch/files"
check "its dependencies are declared" sh -c "dpkg-deb -f '$deb' Depends | grep -q 'libc6.*libstdc++6'"
check "lintian finds no error and no warning" lintian --fail-on error,warning "$deb"

dpkg-deb -x "$deb" "$scratch/deb"
mkdir -p "$scratch/tree/sub"
: >"$scratch/tree/a.tmp"; : >"$scratch/tree/sub/b.TMP"; : >"$scratch/tree/keep.tmp"
printf 'File %s/tree/a.tmp deleted!\nFile %s/tree/sub/b.TMP deleted!\n' "$scratch" "$scratch" | sort >"$scratch/lines"
"$scratch/deb/usr/bin/kerv32" -S -R "$scratch/tree/*.tmp" ! 'keep*.*' >"$scratch/out"
check "the packaged program sweeps" sh -c "grep '^File' '$scratch/out' | sort | diff '$scratch/lines' -"
check "its man page reads" sh -c "MANWIDTH=80 man -l '$scratch/deb/usr/share/man/man1/kerv32.1.gz' 2>/dev/null | grep -q 'delete the files whose names match'"

# The Windows zip: both executables, and README.
cpack --preset windows >/dev/null
zip=$(ls build/windows-x64/kerv32-*-windows.zip)
echo "package: $zip"
unzip -Z1 "$zip" | grep -v '/$' | sed 's|^[^/]*/||' | sort >"$scratch/files"
printf '%s\n' 32-bit/kerv32.exe 64-bit/kerv32.exe README.md >"$scratch/expected"
check "the zip holds both executables and README" diff "$scratch/expected" "$scratch/files"
unzip -q "$zip" -d "$scratch/zip"
exe=$(ls "$scratch"/zip/*/64-bit/kerv32.exe)
check "the 32-bit program is a 32-bit Windows executable" sh -c "file '$(ls "$scratch"/zip/*/32-bit/kerv32.exe)' | grep -q 'PE32 executable.*Intel 80386'"
wine "$exe" -S "Z:${scratch//\//\\}\\tree\\*.tmp" ! 'keep*.*' >"$scratch/out" 2>/dev/null </dev/null || true
check "the packaged kerv32.exe sweeps under Wine" grep -q 'File Z:.*\\A.TMP deleted!\|File Z:.*\\a.tmp deleted!' "$scratch/out"

echo "packages: $passed passed, 0 failed"
