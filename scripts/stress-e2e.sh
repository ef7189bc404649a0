#!/usr/bin/env bash
# Runs the whole Wine suite many times in a row and prints each run's failures, to prove that it
# does not fail by chance. Not a test: a tool for finding races.
#
#   scripts/stress-e2e.sh [-n RUNS] [-j JOBS]... [--hog]
#
#   -n RUNS   runs per setting (default 20)
#   -j JOBS   parallel test files; may be given more than once (default: 2 and twice the cores)
#   --hog     keep one CPU-bound process running beside the suite
#
# Expects a configured and built win32 preset (cmake --preset win32 && cmake --build --preset
# win32). Prints one line per run and a summary per setting, with the suite's wall time.
set -uo pipefail
cd "$(dirname "$0")/.."

args=("$@")
runs=20
jobs=()
hog=0
while [ $# -gt 0 ]; do
  case "$1" in
    -n) runs="$2"; shift 2 ;;
    -j) jobs+=("$2"); shift 2 ;;
    --hog) hog=1; shift ;;
    *) sed -n '2,12p' "$0"; exit 2 ;;
  esac
done
[ ${#jobs[@]} -gt 0 ] || jobs=(2 $(( $(nproc) * 2 )))

build=build/win32
logdir=$build/stress
mkdir -p "$logdir"
if [ ! -f "$build/CTestTestfile.cmake" ]; then
  echo "no win32 build: cmake --preset win32 && cmake --build --preset win32" >&2
  exit 2
fi

# Where this kernel runs no 32-bit programs, the whole loop runs in the test machine instead.
if [ "$(python3 tests/e2e/harness.py --road)" != here ]; then
  exec scripts/winevm/run.sh --share "$(dirname "$PWD")" -- scripts/winevm/in-guest.sh scripts/stress-e2e.sh ${args[@]+"${args[@]}"}
fi

hog_pid=
if [ "$hog" -eq 1 ]; then
  python3 -c 'while True: pass' &
  hog_pid=$!
  trap 'kill $hog_pid 2>/dev/null' EXIT
fi

status=0
for j in "${jobs[@]}"; do
  failed_runs=0
  skipped_runs=0
  total=0
  for i in $(seq 1 "$runs"); do
    result="$PWD/$logdir/run-j$j-$i.xml"
    start=$(date +%s%N)
    ctest --test-dir "$build" -L e2e -j "$j" --output-junit "$result" >"$logdir/run-j$j-$i.log" 2>&1
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    total=$((total + ms))
    summary=$(python3 scripts/ctest_summary.py "$result")
    last=$(tail -n 1 <<<"$summary")
    printf 'j%-3s run %2d  %4d.%d s  %s\n' "$j" "$i" $((ms / 1000)) $((ms % 1000 / 100)) "$last"
    grep -E ': (FAILED|skipped)' <<<"$summary" | sed 's/^/            /'
    case "$last" in
      *" 0 failed"*) ;;
      *) failed_runs=$((failed_runs + 1)); status=1 ;;
    esac
    if grep -q 'Wine cannot start' <<<"$summary"; then skipped_runs=$((skipped_runs + 1)); fi
  done
  mean=$((total / runs))
  printf 'j%s: %d of %d runs had failures; mean wall time %d.%d s%s\n' "$j" "$failed_runs" \
    "$runs" $((mean / 1000)) $((mean % 1000 / 100)) "$([ "$hog" -eq 1 ] && echo ', with a CPU hog')"
  if [ "$skipped_runs" -eq "$runs" ]; then
    echo "j$j: nothing ran: this machine cannot run the Wine suite (see the skip reason above)"
    status=1
  fi
done
exit $status
