#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian 12 packages the Windows build and its proof under Wine need,
# only those that are missing. Run as root.
set -euo pipefail
packages=(g++-mingw-w64-x86-64-posix nsis zip wine64 wine xvfb xauth x11-utils xdotool imagemagick)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] && [ "$(id -u)" -ne 0 ]; then
  echo "Faltam pacotes (${missing[*]}): rode como root: sudo bash scripts/windows/build.sh" >&2
  exit 1
fi
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
