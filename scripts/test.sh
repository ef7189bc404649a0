#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests (plain and under ASan/UBSan), a short
# fuzzing run, and the Windows programs' tests under Wine. Ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh || exit 1

presets=(native native-asan fuzz win32)
logdir=build/test-logs
mkdir -p "$logdir"

# A kernel with 32-bit emulation switched off cannot start 32-bit Wine: there the Wine tests run
# in a test machine whose kernel can (scripts/winevm), and everything else runs here as usual.
# ZYN_WINEVM=1 takes that road on any kernel. The machine is made before anything else, so that
# when it cannot be, the failed step and its log come first; the other tests still run, and the
# Wine tests that could not count as a failure.
wine_here=1
vm_failure=
road="$(python3 tests/e2e/harness.py --road)"
if [ "$road" != here ]; then
  wine_here=0
  echo "== the Wine tests run in the test machine (scripts/winevm): ${road#test machine: }"
fi
if [ "$wine_here" = 0 ] &&
  ! scripts/winevm/build-image.sh 2>&1 >/dev/null | tee "$logdir/winevm-image.log" >&2; then
  vm_failure="the Wine tests did not run: $(tail -n 1 "$logdir/winevm-image.log")"
  echo "== $vm_failure"
fi

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
  if [ "$p" = win32 ] && [ "$wine_here" = 0 ]; then
    ctest --preset "$p" -j2 -LE e2e --output-junit "$result" 2>&1 | tee "$logdir/test-$p.log"
    vm_result="$PWD/$logdir/results-$p-e2e.xml"
    rm -f "$vm_result"
    if [ -z "$vm_failure" ]; then
      scripts/winevm/run.sh --share "$(dirname "$PWD")" -- scripts/winevm/in-guest.sh \
        ctest --preset "$p" -L e2e -j2 --output-junit "$vm_result" 2>&1 | tee "$logdir/test-$p-e2e.log"
      [ -f "$vm_result" ] || vm_failure="the Wine tests gave no result: cannot start the test machine, or it ended early (its output: $logdir/test-$p-e2e.log)"
    fi
    [ ! -f "$vm_result" ] || results+=("$vm_result")
  else
    ctest --preset "$p" -j2 --output-junit "$result" 2>&1 | tee "$logdir/test-$p.log"
  fi
  results+=("$result")
done

echo
exec python3 scripts/ctest_summary.py ${vm_failure:+--failed "$vm_failure"} "${results[@]}"
