#!/usr/bin/env bash
# dmiread builds and runs from a configure run with -DBUILD_TESTING=OFF on a machine that lacks
# GoogleTest, Google Benchmark and clang-format (no_test_tools.cmake makes any lookup of them
# fatal). Usage: tools_only_build.sh SOURCE_DIR SCRATCH_DIR [CMAKE [GENERATOR]]
set -euo pipefail
src=$1
build=$2
cmake=${3:-cmake}
generator=${4:-Ninja}
rm -rf "$build"
"$cmake" -S "$src" -B "$build" -G "$generator" -DBUILD_TESTING=OFF \
  -DCMAKE_PROJECT_INCLUDE="$src/tests/build/no_test_tools.cmake" >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
"$cmake" --build "$build" --target dmiread -j 1 >"$build.build.log" 2>&1 || { cat "$build.build.log"; exit 1; }
out=$("$build/bin/dmiread" --json "$src/tests/data/tables/lenovo-thinkpad-w510.bin")
echo "$out"
[ "$out" = '{"status":0,"manufacturer":"LENOVO","product":"431924G","debug":[]}' ]
rm -rf "$build" "$build.configure.log" "$build.build.log"
