#!/usr/bin/env bash
# The desktop entry and the AppStream metainfo pass their validators (no network).
# Usage: validate-desktop-files.sh <file.desktop> <file.metainfo.xml>
set -euo pipefail
desktop-file-validate "$1"
grep -qx 'Categories=AudioVideo;Video;' "$1"
grep -qx 'Terminal=false' "$1"
# Docks tie the window (WM_CLASS class "Mantleshade") to the entry by this key.
grep -qx 'StartupWMClass=Mantleshade' "$1"
appstreamcli validate --no-net --strict "$2"
