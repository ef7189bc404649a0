#!/usr/bin/env bash
# Installs every Debian package that the build and the tests need. Safe to run again:
# packages already present are skipped, so a second run takes seconds.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
  wine wine32:i386 xvfb xauth xdotool imagemagick fonts-wine locales
  dmidecode hyperfine python3
  fonts-wqy-microhei fonts-takao-gothic fonts-unfonts-core
  nsis xorriso
  qemu-system-x86 debootstrap
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  missing=("${packages[@]}")
else
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
fi

if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    exec sudo -E "$0" "$@"
  fi
  echo "bootstrap: run as root (or with sudo) to install: ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386

# apt's own lines go to a log, so the screen shows only what the user must act on. A temporary
# file rather than build/: this runs as root, and a root-owned build tree would trouble later runs.
log="$(mktemp "${TMPDIR:-/tmp}/zynid-bootstrap.XXXXXX.log")"
chmod 0644 "$log"
echo "bootstrap: installing ${missing[*]} (apt's output: $log)"

# One index that cannot be fetched need not stop the install: the indexes at hand may serve it.
# The machine's own sources stay as they are; leaving a suite out of them is the user's decision.
update_ok=1
apt-get update >"$log" 2>&1 || update_ok=0
status=0
apt-get install -y --no-install-recommends "${missing[@]}" >>"$log" 2>&1 || status=$?
if [ "$status" = 0 ]; then
  [ "$update_ok" = 1 ] || echo "bootstrap: apt-get update failed for some index (see $log); the install went ahead all the same"
  echo "bootstrap: installed ${missing[*]}"
  exit 0
fi

# apt reports an index it could not fetch as "E: Failed to fetch URL  MESSAGE [IP: ...]".
failed_fetch="$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\) *\(.*\)$/\1\t\2/p' "$log" | sed 's/ *\[IP: [^]]*\]$//')"
install_error="$(grep '^E: ' "$log" | grep -v 'Failed to fetch\|index files failed' | tail -n 1 || true)"
install_error="${install_error:-E: apt-get install exited with status $status}"
if [ -n "$failed_fetch" ]; then
  first="$(head -n 1 <<<"$failed_fetch")"
  more=$(($(wc -l <<<"$failed_fetch") - 1))
  index="${first%%$'\t'*}"
  [ "$more" -eq 0 ] || index="$index (and $more more)"
  echo "bootstrap: the package mirror could not serve $index (\"${first#*$'\t'}\"), so the install failed (\"${install_error#E: }\"): this is the mirror, not this project." >&2
  echo "bootstrap: wait a while (a mirror mid-sync usually settles within hours) and run the same command again; apt's output is in $log" >&2
else
  echo "bootstrap: apt-get install failed (\"${install_error#E: }\"); apt's output is in $log" >&2
fi
exit 1
