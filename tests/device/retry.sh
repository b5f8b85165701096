#!/usr/bin/env bash
# Runs the device tests; those that fail are run once more, alone. They play
# in real time on a shared machine, where another process can starve a sound
# server for a moment: a fault of ours fails twice, a stall of the machine
# rarely does. The first failures stay in the output above the second try.
set -uo pipefail
out=$(mktemp)
"$@" 2>&1 | tee "$out"
status=${PIPESTATUS[0]}
if ((status != 0)); then
  failed=$(grep -E '^\[  FAILED  \] [A-Za-z]' "$out" | grep -v ' tests\?, listed below' | sed -E 's/^\[  FAILED  \] ([^, ]+).*/\1/' | sort -u | paste -sd: -)
  if [[ -n $failed ]]; then
    echo "== once more: $failed"
    "$@" --gtest_filter="$failed"
    status=$?
  fi
fi
rm -f "$out"
exit "$status"
