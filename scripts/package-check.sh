#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from build/ (or $BUILD_DIR), checks its desktop
# files, installs it with apt, runs the installed programs once and removes
# it again. Run as root after scripts/test.sh (or scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}

desktop-file-validate packaging/linux/br.com.brevanto.TarvikConnect.desktop
appstreamcli validate --no-net --pedantic packaging/linux/br.com.brevanto.TarvikConnect.metainfo.xml

(cd "$build_dir" && rm -f tarvik-connect_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build_dir"/tarvik-connect_*.deb)
echo "Package: $deb ($(du -k "$deb" | cut -f1) KiB)"
dpkg-deb --info "$deb" | sed -n 's/^ \(Depends\|Recommends\):/  \1:/p'

# What a distribution would say of it: no error, no warning.
lintian --fail-on error,warning --tag-display-limit 0 "$deb" 2>/dev/null | tee /tmp/lintian.$$ || {
  echo "lintian found errors or warnings"; exit 1; }
! grep -q '^[EW]: ' /tmp/lintian.$$ || { echo "lintian found errors or warnings"; exit 1; }
rm -f /tmp/lintian.$$

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q "./$deb" >/dev/null
trap 'apt-get remove -y -q tarvik-connect >/dev/null || true' EXIT

for f in /usr/bin/tarvik-connect /usr/bin/tarvik-dfu /usr/bin/tarvik-config /usr/lib/udev/rules.d/60-tarvik-connect.rules \
         /usr/share/applications/br.com.brevanto.TarvikConnect.desktop \
         /usr/share/metainfo/br.com.brevanto.TarvikConnect.metainfo.xml \
         /usr/share/icons/hicolor/scalable/apps/tarvik-connect.svg \
         /usr/share/icons/hicolor/256x256/apps/tarvik-connect.png; do
  [ -e "$f" ] || { echo "missing after install: $f"; exit 1; }
done

/usr/bin/tarvik-dfu list | grep -q "Nenhum aparelho no modo de atualização"
/usr/bin/tarvik-config --help | grep -q "tarvik-config read"

# The manual pages and the Tab completion, as a technician at a terminal
# meets them.
for program in tarvik-connect tarvik-config tarvik-dfu; do
  [ -e "/usr/share/man/man1/$program.1.gz" ] || { echo "no manual page for $program"; exit 1; }
  MANWIDTH=80 man -P cat "$program" 2>/dev/null | grep -q "$program" || { echo "man $program shows nothing"; exit 1; }
done
MANWIDTH=80 man -P cat tarvik-config 2>/dev/null | grep -q "STATUS DE SAÍDA"
completes() { # command line so far -> the completions offered for its last word
  bash -c 'source /usr/share/bash-completion/bash_completion
           read -ra COMP_WORDS <<<"$1"; [[ $1 == *" " ]] && COMP_WORDS+=("")
           COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE=$1; COMP_POINT=${#1}
           _completion_loader "${COMP_WORDS[0]}"
           $(complete -p "${COMP_WORDS[0]}" | sed "s/.*-F \([^ ]*\) .*/\1/")
           printf "%s\n" "${COMPREPLY[@]}"' _ "$1" 2>/dev/null
}
completes "tarvik-config up" | grep -qx update || { echo "no completion of tarvik-config commands"; exit 1; }
keys=$(completes "tarvik-config write tu")
grep -qx "turbo=" <<<"$keys" || {
  echo "no completion of tarvik-config keys (offered: $keys)"
  tarvik-config --help 2>&1 | sed -n '/^Chaves:/,/^$/p'
  exit 1
}
completes "tarvik-dfu w" | grep -qx write || { echo "no completion of tarvik-dfu commands"; exit 1; }

# Started offscreen from an empty folder, asked to quit as a desktop session
# would, it must close cleanly.
workdir=$(mktemp -d)
(cd "$workdir" && QT_QPA_PLATFORM=offscreen exec /usr/bin/tarvik-connect >/dev/null 2>&1) &
pid=$!
sleep 3
kill -0 "$pid" || { echo "tarvik-connect did not stay up"; exit 1; }
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
rm -rf "$workdir"
[ "$status" -eq 0 ] || { echo "tarvik-connect exited with $status"; exit 1; }

apt-get remove -y -q tarvik-connect >/dev/null
trap - EXIT
[ ! -e /usr/bin/tarvik-connect ] || { echo "still installed after removal"; exit 1; }
echo "package installed, ran and was removed cleanly"
