#!/usr/bin/env bash
# The documentation screenshots; see scripts/screenshots.
exec bash "$(dirname "$0")/../scripts/screenshots" "$@"
