#!/bin/sh
# Runs a Windows test program under Wine. Now and then Wine fails to start a
# program at all, with no output; such a launch is tried again (twice at
# most), so that only the program's own results decide a test.
out=$(mktemp) || exit 1
for try in 1 2 3; do
  wine "$@" >"$out"
  status=$?
  if [ -s "$out" ] || [ "$status" -eq 0 ]; then break; fi
done
cat "$out"
rm -f "$out"
exit "$status"
