#!/usr/bin/env bash
# Runs a command inside the test machine: a Debian guest whose kernel runs 32-bit programs, under
# QEMU's software emulation (or KVM, on request). For hosts whose kernel has 32-bit emulation turned off, where 32-bit
# Wine cannot start at all. The command runs as root in the current folder, with the same
# absolute paths as on the host for every shared folder; its output arrives here as it runs and
# its exit status becomes ours.
#
#   run.sh [--share DIR]... [--timeout SECONDS] -- COMMAND [ARG]...
#
# ZYN_WINEVM_CPUS / ZYN_WINEVM_MEMORY: the guest's processors (default: the host's count) and
# memory in MiB (default 6144). ZYN_WINEVM_ACCEL=kvm: hardware virtualisation, where /dev/kvm is
# usable (else the software emulation).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
shares=()
timeout_s=3600
while [ $# -gt 0 ]; do
  case "$1" in
    --share) shares+=("$(cd "$2" && pwd)"); shift 2 ;;
    --timeout) timeout_s="$2"; shift 2 ;;
    --) shift; break ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: run.sh [--share DIR]... [--timeout S] -- COMMAND..." >&2; exit 2; }

image="$("$here/build-image.sh")"
ctl="$(mktemp -d "${TMPDIR:-/tmp}/zvm-ctl.XXXXXX")"
trap 'rm -rf "$ctl"' EXIT

# The guest reads the shares and the command from the control folder.
args=(-virtfs "local,path=$ctl,mount_tag=zvmctl,security_model=none")
: >"$ctl/shares"
n=0
for dir in "${shares[@]}"; do
  args+=(-virtfs "local,path=$dir,mount_tag=share$n,security_model=none")
  echo "share$n $dir" >>"$ctl/shares"
  n=$((n + 1))
done
{
  printf 'cd %q || exit 125\n' "$PWD"
  # Only what the command needs from here: the guest has its own PATH and home.
  # Not ZYN_WINEVM: the guest is the test machine, and runs the Wine parts itself.
  for var in $(compgen -e); do
    case "$var" in
      ZYN_WINEVM) ;;
      CI | ZYN_* | CTEST_* | PYTHON* | WINEDEBUG | LANG | LC_*) printf 'export %s=%q\n' "$var" "${!var}" ;;
    esac
  done
  printf 'export HOME=/root TERM=dumb\n'
  printf 'exec'
  printf ' %q' "$@"
  printf '\n'
} >"$ctl/command.sh"

# Firmware and boot noise stay out of the way unless ZYN_WINEVM_VERBOSE is set.
filter_console() {
  if [ -n "${ZYN_WINEVM_VERBOSE:-}" ]; then
    cat
  else
    sed -u -n '/zvm-begin$/,/^zvm-end$/{/zvm-\(begin\|end\)$/!p}'
  fi
}

# The Wine tests' ready-made template prefix and locales (see in-guest.sh), read-only: /dev/vdb.
ready="$image/e2e-ready.img"
[ -f "$ready" ] && args+=(-drive "file=$ready,format=raw,if=virtio,readonly=on")

# Software emulation unless KVM is asked for: a /dev/kvm that opens is no proof that a guest
# boots (nested virtualisation on a cloud machine has been seen to stall right after the
# firmware). QEMU falls back to the next -accel when KVM cannot start at all.
accel=(-accel tcg,thread=multi)
if [ "${ZYN_WINEVM_ACCEL:-}" = kvm ] && [ -r /dev/kvm ] && [ -w /dev/kvm ]; then
  accel=(-accel kvm "${accel[@]}")
fi

cpus="${ZYN_WINEVM_CPUS:-$(nproc)}"
memory="${ZYN_WINEVM_MEMORY:-6144}"
# The guest's kernel messages stay quiet; its console (the command's output) is our stdout. The
# guest ends itself with a reset, which -no-reboot turns into QEMU's exit; a kernel panic does too.
timeout --kill-after=10 "$timeout_s" qemu-system-x86_64 \
  -machine q35 "${accel[@]}" -smp "$cpus" -m "$memory" \
  -nographic -no-reboot -nodefaults -serial stdio -monitor none \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 quiet loglevel=1 panic=-1 init=/sbin/zvm-init" \
  -drive "file=$image/disk.img,format=raw,if=virtio,snapshot=on" \
  "${args[@]}" </dev/null | filter_console || true

# Newer ones the guest handed back become the disk of the next runs: made aside, then swapped in
# whole, so a machine that is running keeps the one it started with. Without write access to the
# image folder the runs go on making their own.
if [ -s "$ctl/e2e-ready.tar" ]; then
  if ! { new="$(mktemp -d "$ready.XXXXXX")" && mkdir "$new/d" &&
         tar -xf "$ctl/e2e-ready.tar" -C "$new/d" &&
         mkfs.ext4 -q -F -d "$new/d" "$new/img" "$(( $(du -sm "$new/d" | cut -f1) * 5 / 4 + 64 ))M" >/dev/null &&
         mv -f "$new/img" "$ready"; } 2>/dev/null; then
    echo "run.sh: could not keep the Wine tests' template in $ready (the next run makes its own)" >&2
  fi
  [ -n "${new:-}" ] && rm -rf "$new"
fi

if [ ! -s "$ctl/status" ]; then
  echo "run.sh: the test machine ended without a result (timeout ${timeout_s}s or a crash);" \
    "ZYN_WINEVM_VERBOSE=1 shows its console" >&2
  exit 124
fi
exit "$(cat "$ctl/status")"
