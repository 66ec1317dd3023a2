#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with ASan and UBSan) and runs each for
# a bounded time, starting from its seed corpus in fuzz/corpus/. New inputs
# go to a scratch directory; a crash leaves its input in build/fuzz/ and
# fails the run. Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
log=$(mktemp)
if ! cmake --workflow --preset fuzz >"$log" 2>&1; then
  tail -40 "$log"; rm -f "$log"; exit 1
fi
rm -f "$log"
status=0
for target in matching list_file arguments; do
  scratch=$(mktemp -d)
  echo "fuzzing $target for ${seconds}s"
  if ! build/fuzz/fuzz/${target}_fuzz -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix=build/fuzz/${target}- -print_final_stats=1 "$scratch" fuzz/corpus/$target \
      > build/fuzz/$target.log 2>&1; then
    echo "  $target FAILED; see build/fuzz/$target.log"; tail -30 build/fuzz/$target.log; status=1
  else
    grep -E "^Done" build/fuzz/$target.log | sed 's/^/  /'
  fi
  rm -rf "$scratch"
done
exit $status
