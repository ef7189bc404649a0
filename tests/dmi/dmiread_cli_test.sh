#!/usr/bin/env bash
# dmiread as a whole process: output forms, exit statuses and the messages for bad input.
# Usage: dmiread_cli_test.sh DMIREAD TABLES_DIR
set -u
dmiread=$1
tables=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
as_user=()  # a command prefix that runs dmiread as another user

# expect NAME STATUS PATTERN -- ARGS...: exit status and a pattern that stdout+stderr must match.
# A dmiread that has not ended after 60 s is stopped (exit 124): it hangs.
expect() {
  local name=$1 want=$2 pattern=$3
  shift 4
  local out rc
  out=$(timeout 60 "${as_user[@]}" "$dmiread" "$@" 2>&1)
  rc=$?
  if [ "$rc" -ne "$want" ] || ! grep -qE -- "$pattern" <<<"$out"; then
    echo "FAIL $name: exit $rc (want $want), output:"
    echo "$out" | sed 's/^/    /'
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

: >"$work/empty.bin"
printf '_SM_\x1f' >"$work/short-ep.bin"
# A sound 32-bit entry point whose table (1000 bytes at 0x20) runs past the end of the file.
{ printf '_SM_\x7a\x1f\x02\x07'; head -c 8 /dev/zero; printf '_DMI_\x31\xe8\x03\x20\x00\x00\x00\x05\x00\x27'; head -c 40 /dev/zero; } >"$work/outside.bin"
head -c 70000 /dev/zero | tr '\0' 'x' >"$work/big.bin"
# A table whose first structure is the end-of-table structure: no rule, one fault line.
printf '\x7f\x04\x00\x00\x00\x00' >"$work/eot.bin"

w510=$tables/lenovo-thinkpad-w510.bin
expect text_output 0 '^manufacturer: LENOVO$' -- "$w510"
expect text_product 0 '^product: 431924G$' -- "$w510"
expect text_status 0 '^status: 0$' -- "$w510"
expect json_found 0 '^\{"status":0,"manufacturer":"LENOVO","product":"431924G","debug":\[\]\}$' -- --json "$w510"
expect json_page_offset 0 '"product":"431924G"' -- --json --page-offset 4095 "$w510"
expect json_bugcheck 0 '^\{"status":0,"manufacturer":"","product":"","debug":\["BUGCHECK DMI- GetDMIStructure\\n"\]\}$' -- --json "$tables/asrock-x399-taichi.table"
expect text_bugcheck 0 '^debug: BUGCHECK DMI- GetDMIStructure$' -- "$work/eot.bin"
expect count_zero_ends_walk_at_first 0 '"debug":\[\]' -- --json --count 0 "$w510"
expect kernel_table 0 '"product":"431924G"' -- --json "$tables/sysfs/DMI"
expect empty_table 0 '^\{"status":3,' -- --json "$work/empty.bin"
expect no_such_file 2 'no such file' -- "$work/missing.bin"
expect not_a_table 2 'the entry point is cut short' -- "$work/short-ep.bin"
expect entry_point_outside 2 'outside the file' -- "$work/outside.bin"
expect table_too_big 2 'over 65535 bytes' -- "$work/big.bin"

# Only regular files are read, and of those at most the largest table file (1 MiB) and a byte.
mkfifo "$work/fifo"
truncate -s 4G "$work/huge.bin"
expect device_refused 2 'not a regular file' -- /dev/zero
# Looked at before it is opened: a writer blocked on a FIFO stays blocked (makes no marker).
(exec 3>"$work/fifo" && : >"$work/released") &
expect fifo_refused 2 'not a regular file' -- "$work/fifo"
sleep 0.5
expect fifo_writer_stays_blocked 2 'released: no such file' -- "$work/released"
kill $! 2>/dev/null
expect huge_file_refused 2 'huge.bin: table file over 1 MiB$' -- "$work/huge.bin"

# A file that begins with an anchor is a dump: one whose entry point fails its checks is damaged,
# refused with the check named, never read as a raw table.
{ printf '_SM_'; head -c 100 /dev/zero; } >"$work/raw-sm.bin"
expect anchor_bad_length 2 '^dmiread: .*/raw-sm.bin: the entry point.s length byte is wrong$' -- "$work/raw-sm.bin"
{ head -c 8 "$w510"; printf '\x80'; tail -c +10 "$w510"; } >"$work/bad-checksum.bin"
expect bad_checksum 2 '^dmiread: .*/bad-checksum.bin: the entry point.s checksum is wrong$' -- "$work/bad-checksum.bin"
# The intermediate checksum (byte 0x15) broken, the entry point's own (byte 4) put right.
{ head -c 4 "$w510"; printf '\xb3'; head -c 21 "$w510" | tail -c 16; printf '\x00'; tail -c +23 "$w510"; } >"$work/bad-intermediate.bin"
expect bad_intermediate 2 "bad-intermediate.bin: the entry point.s intermediate _DMI_ is broken$" -- "$work/bad-intermediate.bin"

# Text mode shows a table's bytes outside printable ASCII, and the backslash, as escapes, so a
# table cannot drive the terminal; --json stays exact.
printf '\x02\x08\x00\x00\x01\x02\x00\x00\x1b[2J\x7f\x9b\\\x00M\xfcller\x00\x00' >"$work/escapes.bin"
expect text_escapes 0 '^manufacturer: \\x1b\[2J\\x7f\\x9b\\\\$' -- --count 5 "$work/escapes.bin"
expect text_escapes_latin1 0 '^product: M\\xfcller$' -- --count 5 "$work/escapes.bin"
expect json_escapes_controls 0 '"manufacturer":"\\u001b\[2J\\u007f\\u009b\\\\"' -- --json --count 5 "$work/escapes.bin"

# No FILE: this machine's own table, from the folder DMIREAD_TABLES_DIR names (tests only).
machine() { DMIREAD_TABLES_DIR=$1 expect "${@:2}"; }
mkdir "$work/no-sysfs"
machine "$tables/sysfs" machine_table 0 '"product":"431924G"' -- --json
machine "$work/no-sysfs" machine_table_absent 2 '^dmiread: this machine exposes no SMBIOS table \(.*/no-sysfs/DMI is absent\); give a FILE$' --
machine "$work/missing-folder" machine_table_folder_absent 2 'exposes no SMBIOS table' --
# As the kernel exports it: readable by its owner only. Root reads anything, so as root the
# check runs as nobody (the folder and dmiread must be reachable to that user).
mkdir -m 755 "$work/sysfs"
cp "$tables/sysfs/DMI" "$tables/sysfs/smbios_entry_point" "$work/sysfs/"
chmod 755 "$work"
chmod 400 "$work/sysfs/DMI" "$work/sysfs/smbios_entry_point"
if [ "$(id -u)" -ne 0 ]; then
  machine "$work/sysfs" machine_table_needs_root 2 '^dmiread: reading this machine.s table \(.*/sysfs/DMI\) needs root; try sudo$' --
elif command -v setpriv >/dev/null && setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$dmiread"; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  machine "$work/sysfs" machine_table_needs_root 2 '^dmiread: reading this machine.s table \(.*/sysfs/DMI\) needs root; try sudo$' --
  as_user=()
else
  echo "skip machine_table_needs_root: running as root and cannot run dmiread as another user"
fi
expect page_offset_too_big 2 'page-offset' -- --page-offset 4096 "$w510"
expect count_not_a_number 2 'count' -- --count x "$w510"
expect unknown_option 2 'unknown option --frobnicate' -- --frobnicate "$w510"
expect two_files 2 'one FILE' -- "$w510" "$w510"

# Latin-1 bytes map one-to-one onto U+0080..U+00FF in JSON.
printf '\x02\x08\x00\x00\x01\x02\x00\x00M\xfcller\x00\x22Q\\\x00\x00' >"$work/latin1.bin"
expect json_latin1 0 '"manufacturer":"Müller","product":"\\"Q\\\\"' -- --json --count 5 "$work/latin1.bin"

[ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }
