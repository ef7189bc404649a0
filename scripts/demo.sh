#!/usr/bin/env bash
# The main job: read the board identity out of a real SMBIOS table with the very reader that
# the Windows program ships, played against a simulated driver.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake --preset native >/dev/null
cmake --build --preset native --target dmiread >/dev/null

table=${1:-tests/data/tables/lenovo-thinkpad-w510.bin}
echo "dmiread $table"
build/native/bin/dmiread "$table"
