#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests (plain and under ASan/UBSan), a short
# fuzzing run, and the Windows programs' tests under Wine. Ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh || exit 1

presets=(native native-asan fuzz win32)
logdir=build/test-logs
mkdir -p "$logdir"

for p in "${presets[@]}"; do
  echo "== build $p"
  if ! { cmake --preset "$p" >"$logdir/configure-$p.log" 2>&1 &&
         cmake --build --preset "$p" >"$logdir/build-$p.log" 2>&1; }; then
    tail -n 60 "$logdir/configure-$p.log" "$logdir/build-$p.log" 2>/dev/null
    echo "build of preset $p failed"
    echo "0 passed, 1 failed, 0 skipped"
    exit 1
  fi
done

# Counts come from ctest's JUnit files, not from its text.
results=()
for p in "${presets[@]}"; do
  echo "== test $p"
  result="$PWD/$logdir/results-$p.xml"
  rm -f "$result"
  ctest --preset "$p" -j2 --output-junit "$result" 2>&1 | tee "$logdir/test-$p.log"
  results+=("$result")
done

echo
exec python3 scripts/ctest_summary.py "${results[@]}"
