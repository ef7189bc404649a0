#!/usr/bin/env bash
# The set-up scripts' own lines on a bad mirror day and without a test machine, with
# standin-command on PATH for apt, debootstrap and the rest; test.sh runs in a copy of scripts/.
src="$(cd "$(dirname "$0")/../.." && pwd)" tmp="$(mktemp -d)" && trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/bin" && cp -r "$src/scripts" "$tmp/" && cd "$tmp" || exit 1
for c in id dpkg dpkg-query mount umount mountpoint chroot debootstrap mkfs.ext4 apt-get cmake ctest qemu-system-x86_64; do ln -s "$src/tests/scripts/standin-command" "bin/$c"; done
export PATH="$tmp/bin:$PATH" TMPDIR="$tmp" ZYN_WINEVM_DIR="$tmp/vm" ZYN_WINEVM=1 STANDIN_MIRROR STANDIN_FAIL
failed=0
expect() { # STATUS PATTERN COMMAND...: the status, and the whole output matching a Perl pattern
  local out status=0
  out="$("${@:3}" 2>&1)" || status=$?
  [ "$status" = "$1" ] && grep -Pzq "(?s)$2" <<<"$out" || { echo "FAILED: ${*:3}: status $status, output:$out" && failed=1; }
}
expect 1 "\(apt's output: \S+\)\nbootstrap: the package mirror could not serve \S+/binary-i386/Packages.xz \(\"File has unexpected size \(71248 != 71252\)\. Mirror sync in progress\?\"\), so the install failed \(\"Unable to correct problems, you have held broken packages\.\"\): this is the mirror, not this project\.\nbootstrap: wait.* run the same command again; apt's output is in $tmp/zynid-bootstrap\.\w+.log\n\z" bash scripts/bootstrap.sh
STANDIN_MIRROR=ok expect 0 "bootstrap: installed" bash scripts/bootstrap.sh
expect 0 "\n$tmp/vm/\w+\n\z" scripts/winevm/build-image.sh # no security suite, no failure
STANDIN_FAIL=qemu-system-x86_64 expect 0 "cannot start the test machine.*\nproduct: 431924G\n" python3 "$src/scripts/demo.py"
STANDIN_MIRROR=ok STANDIN_FAIL=qemu-system-x86_64 expect 1 "FAILED the Wine tests gave no result: cannot start the test machine.*\n4 passed, 1 failed" bash scripts/test.sh
rm -rf vm
STANDIN_FAIL=debootstrap expect 1 "^build-image: .*\ncannot make the test machine: step \"debootstrap\" failed \(status 1\); log: $tmp/vm/\w+\.tmp/build.log\n\z" scripts/winevm/build-image.sh
STANDIN_FAIL=debootstrap expect 0 "^build-image: .*\ncannot make the test machine: step \"debootstrap\".*\nzynid cannot run here: .*\nproduct: 431924G\n" python3 "$src/scripts/demo.py"
STANDIN_MIRROR=ok STANDIN_FAIL=debootstrap expect 1 "cannot make the test machine: step \"debootstrap\".*\n== build native.*\nFAILED the Wine tests did not run: cannot make .*\n4 passed, 1 failed" bash scripts/test.sh
exit $failed
