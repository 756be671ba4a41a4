#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The documentation screenshots; see scripts/screenshots.
exec bash "$(dirname "$0")/../scripts/screenshots" "$@"
