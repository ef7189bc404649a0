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
    echo "0 passed, 1 failed"
    exit 1
  fi
done

passed=0
failed=0
for p in "${presets[@]}"; do
  echo "== test $p"
  ctest --preset "$p" -j2 2>&1 | tee "$logdir/test-$p.log"
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$logdir/test-$p.log" | tail -n 1)
  if [ -z "$summary" ]; then
    if grep -q 'No tests were found' "$logdir/test-$p.log"; then continue; fi
    echo "ctest for $p printed no summary"
    failed=$((failed + 1))
    continue
  fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$summary")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
done

echo
echo "${passed} passed, ${failed} failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
