#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages that building, running and testing need,
# only those that are missing. Run as root. $1: the command that called it,
# named in the advice to a user who is not root; "--windows" after it adds
# what the Windows build and its proof under Wine need.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-tools-dev qt6-tools-dev-tools
  qt6-l10n-tools qt6-translations-l10n libgl-dev libusb-1.0-0-dev
  # tests: simulated serial device, local HTTPS servers, headless X for screenshots
  umockdev libumockdev-dev gir1.2-umockdev-1.0 openssl python3
  xvfb xauth x11-utils imagemagick fonts-dejavu-core
  # a Brazilian locale, to test that numbers are read the same under it
  locales
  # packaging checks, fuzzing and sanitizer builds
  dpkg-dev appstream desktop-file-utils lintian help2man man-db bash-completion tmux
  clang libclang-rt-14-dev
)
if [ "${2:-}" = "--windows" ]; then
  # libwdi (the driver installer's library) is cross-built from its source
  # with the autotools
  packages+=(g++-mingw-w64-x86-64-posix nsis zip wine64 wine xdotool autoconf automake libtool)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ] && [ "$(id -u)" -ne 0 ]; then
  echo "Faltam pacotes (${missing[*]}): rode como root: sudo bash ${1:-scripts/install-deps.sh}" >&2
  exit 1
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if [ "$(id -u)" -eq 0 ] && ! locale -a 2>/dev/null | grep -qi '^pt_BR\.utf-\?8$'; then
  sed -i 's/^# *\(pt_BR.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^pt_BR.UTF-8 UTF-8' /etc/locale.gen || echo 'pt_BR.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
