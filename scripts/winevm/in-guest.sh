#!/usr/bin/env bash
# Inside the test machine: runs a command (the Wine tests of the win32 build, or the stress
# script) with the Wine work folder in the guest's own memory rather than on the shared folder,
# then hands the evidence of failed cases back to the host's build tree.
#
#   run.sh --share "$(dirname "$PWD")" -- scripts/winevm/in-guest.sh ctest --preset win32 -L e2e
set -uo pipefail
cd "$(dirname "$0")/../.."
build="$PWD/build/win32"
work="$build/tests/e2e/wine"

# The build tree names the host's Python 3; the guest's own answers to that name.
python="$(sed -n 's/^_\?Python3_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt" | head -n 1)"
if [ -n "$python" ] && [ ! -e "$python" ]; then
  mkdir -p "$(dirname "$python")"
  ln -s /usr/bin/python3 "$python"
fi

mkdir -p "$work" /run/e2e-host
mount --bind "$work" /run/e2e-host
mount -t tmpfs -o size=75% tmpfs "$work"

# What an earlier run made and handed back (run.sh attaches it as the second disk): the template
# prefix, used where it lies while its recipe holds, and the compiled locales. Making them again
# would cost each run minutes of emulated Wine and localedef.
ready=/run/e2e-ready
mkdir -p "$ready"
if [ -b /dev/vdb ] && mount -o ro /dev/vdb "$ready"; then
  export ZYN_E2E_READY="$ready"
  [ -d "$ready/locales" ] && cp -a "$ready/locales" "$work/"
fi

# Emulation makes Wine several times slower than on the metal; the harness stretches its bounds.
export ZYN_E2E_TIME_SCALE="${ZYN_E2E_TIME_SCALE:-6}"
export ZYN_E2E_WORK="$work"
"$@"
rc=$?
rm -rf /run/e2e-host/artifacts
if [ -d "$work/artifacts" ]; then
  cp -a "$work/artifacts" /run/e2e-host/ && echo "evidence of failed cases: $work/artifacts"
fi

# A template made in this run (none was ready, or its recipe changed) or locales compiled in it
# go back to the host for the next runs.
from="$ready"
[ -f "$work/template.stamp" ] && from="$work"
if [ -f "$from/template.stamp" ] && { [ "$from" = "$work" ] ||
  [ "$(ls "$work/locales" 2>/dev/null)" != "$(ls "$ready/locales" 2>/dev/null)" ]; }; then
  locales=()
  [ -d "$work/locales" ] && locales=(-C "$work" locales)
  tar -cf /run/zvm/e2e-ready.tar -C "$from" template template.stamp "${locales[@]}" ||
    rm -f /run/zvm/e2e-ready.tar
fi
exit $rc
