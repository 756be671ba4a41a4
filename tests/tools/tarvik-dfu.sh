#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
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
expect 0 "Uso: tarvik-dfu list" "$dfu" --help
[ -z "$("$dfu" --help 2>&1 >/dev/null)" ] || fail "--help writes to standard error"
expect 2 'comando desconhecido "flash"' "$dfu" flash x.hex
expect 1 "arquivo não encontrado" "$dfu" write "$work/missing.hex"
expect 1 "não é um arquivo comum" "$dfu" write "$work"
: >"$work/empty.hex"
expect 1 "arquivo sem dados" "$dfu" write "$work/empty.hex"
printf ':020000040800F2\n:0400000001020304F1\n:00000001FF\n' >"$work/bad.hex"
expect 1 "linha 2: checksum incorreto" "$dfu" write "$work/bad.hex"
mkfifo "$work/pipe.hex"
expect 1 "não é um arquivo comum" "$dfu" write "$work/pipe.hex"
# A name in Latin-1, not UTF-8: the file is found and only the device is missing.
name=$(printf 'atualiza\347\343o.hex')
printf ':020000040800F2\n:0400000001020304F2\n:00000001FF\n' >"$work/$name"
expect 1 "Nenhum aparelho no modo de atualização" "$dfu" write "$work/$name"
# Output into a pipe already closed (as "| true" or "| head" leave it) ends
# the output only: the exit status stays the command's.
closedPipe() {
  python3 -c 'import os, subprocess, sys
r, w = os.pipe(); os.close(r)
sys.exit(subprocess.call(sys.argv[1:], stdout=w) & 255)' "$@"
}
for command in backups list --help; do
  XDG_DATA_HOME=$work closedPipe "$dfu" $command 2>/dev/null; got=$?
  [ "$got" -eq 0 ] || fail "$command into a closed pipe exited $got, not 0"
done
# Every message is Portuguese: none of the old English words is left.
out=$("$dfu" --help; "$dfu" list; "$dfu" write "$work/missing.hex" 2>&1; "$dfu" write "$work/bad.hex" 2>&1)
grep -qiE 'usage|not found|device|written|line [0-9]' <<<"$out" && fail "English left in: $out"
echo "tarvik-dfu: all checks passed"
