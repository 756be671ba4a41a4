#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Regenerates the committed PNG and ICO icons from the SVG source
# (needs ImageMagick). Run after editing resources/icons/tarvik-connect.svg.
set -euo pipefail
cd "$(dirname "$0")/../resources"
convert -background none icons/tarvik-connect.svg -depth 8 -resize 256x256 icons/tarvik-connect.png
convert -background none icons/tarvik-connect.svg -depth 8 -resize 64x64 icons/tarvik-connect-64.png
convert -background none icons/tarvik-connect.svg -depth 8 -define icon:auto-resize=256,64,48,32,16 windows/tarvik-connect.ico
