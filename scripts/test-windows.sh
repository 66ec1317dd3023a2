#!/usr/bin/env bash
# Builds kerv32.exe for 32- and 64-bit Windows with MinGW-w64, runs the unit
# tests of the 64-bit build under Wine, then the end-to-end tests that both
# platforms share (the suites named Shared*) and the Windows ones (Windows*,
# on a real Wine console among them) against the
# 64-bit kerv32.exe. The 32-bit build is only compiled: this machine runs no
# 32-bit code. Needs the Linux Debug build of the tests (cmake --workflow
# --preset debug). Wine runs in a prefix of its own under build/, whose
# server is stopped at the end; no other prefix is touched.
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all
export WINEPREFIX="$PWD/build/wine"
mkdir -p "$WINEPREFIX"
trap 'wineserver -k 2>/dev/null || true' EXIT

cmake --workflow --preset windows-x86

# Wine, set up so that each test's process starts in a tenth of a second and
# no Wine service holds a test's pipes open: make the prefix (one program,
# whose server then ends), start a server that stays, and start the services
# under it through one more program, detached. (wineboot --init would update
# a prefix that exists already, restarting its services during the tests.)
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true
wineserver -p >/dev/null 2>&1 </dev/null || true
wine cmd /c exit >/dev/null 2>&1 </dev/null || true

cmake --workflow --preset windows-x64

log=$(mktemp)
status=0
KERV32_WINE_PROGRAM="$PWD/build/windows-x64/kerv32.exe" build/debug/tests/kerv32_tests \
  --gtest_filter='Shared*:Windows*' >"$log" 2>&1 || status=$?
grep -E '^\[ +(OK|FAILED|SKIPPED) +\]|Failure' "$log" || true
count() { sed -n "s/^\[  $1  \] \([0-9]*\) tests\?[.,].*/\1/p" "$log" | head -n 1; }
passed=$(count PASSED); failed=$(count FAILED); skipped=$(count SKIPPED)
rm -f "$log"
echo "windows: ${passed:-0} passed, ${failed:-0} failed, ${skipped:-0} skipped"
if [ "$status" -ne 0 ] || [ "${passed:-0}" -eq 0 ]; then exit 1; fi
