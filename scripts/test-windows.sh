#!/usr/bin/env bash
# Builds kerv32.exe for 32- and 64-bit Windows with MinGW-w64, runs the unit
# tests of the 64-bit build under Wine, then the end-to-end tests that both
# platforms share against the 64-bit kerv32.exe. The 32-bit build is only
# compiled: this machine runs no 32-bit code. Needs the Linux Debug build of
# the tests (cmake --workflow --preset debug).
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all

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

# The end-to-end tests that hold on both platforms; the others test what
# only POSIX has (links, modes, signals, terminals, mount points).
shared='Program.NoArgumentsShowsUsage:Program.HelpAloneDeletesNothing:MixedTree.*'
shared+=':Program.OperatorsAndListFiles:Program.UnreadableListFileDeletesNothing'
shared+=':Program.OptionAfterBaseSpecIsASpec:Program.BadInput:Program.DeepTreeUnderADescriptorLimit'
shared+=':Question.NoTerminalMeansQuit:Windows.*'
log=$(mktemp)
KERV32_WINE_PROGRAM="$PWD/build/windows-x64/kerv32.exe" build/debug/tests/kerv32_tests --gtest_filter="$shared" | tee "$log"
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\./\1/p' "$log")
rm -f "$log"
echo "windows end-to-end: ${passed:-0} passed, 0 failed"
