#!/usr/bin/env bash
# tarvik-dfu as a new user meets it, without a device: what it says about
# the file it is given, and its help. Usage: tarvik-dfu.sh PATH/TO/tarvik-dfu
set -u
dfu=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
expect() { # expected-status expected-text command...
  local status=$1 text=$2; shift 2
  out=$(timeout 10 "$@" 2>&1); got=$?
  [ "$got" -eq "$status" ] || fail "$* exited $got, not $status: $out"
  grep -qF -- "$text" <<<"$out" || fail "$* said \"$out\", not \"$text\""
}
expect 0 "usage: tarvik-dfu list" "$dfu" --help
[ -z "$("$dfu" --help 2>&1 >/dev/null)" ] || fail "--help writes to standard error"
expect 2 'unknown command "flash"' "$dfu" flash x.hex
expect 1 "not found" "$dfu" write "$work/missing.hex"
expect 1 "not a regular file" "$dfu" write "$work"
: >"$work/empty.hex"
expect 1 "no data" "$dfu" write "$work/empty.hex"
printf ':020000040800F2\n:0400000001020304F1\n:00000001FF\n' >"$work/bad.hex"
expect 1 "line 2: bad checksum" "$dfu" write "$work/bad.hex"
mkfifo "$work/pipe.hex"
expect 1 "not a regular file" "$dfu" write "$work/pipe.hex"
# A name in Latin-1, not UTF-8: the file is found and only the device is missing.
name=$(printf 'atualiza\347\343o.hex')
printf ':020000040800F2\n:0400000001020304F2\n:00000001FF\n' >"$work/$name"
expect 1 "No DFU device found" "$dfu" write "$work/$name"
echo "tarvik-dfu: all checks passed"
