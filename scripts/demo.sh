#!/usr/bin/env bash
# The main job: the real zynid.exe reads a real SMBIOS table through the stand-in driver under
# Wine and shows the board (scripts/demo.py says more). Arguments go to demo.py:
#   scripts/demo.sh [--headless] [--shots DIR] [TABLE]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
for preset in native win32; do
  cmake --preset "$preset" >/dev/null
done
cmake --build --preset native --target dmiread >/dev/null
cmake --build --preset win32 >/dev/null
exec python3 scripts/demo.py "$@"
