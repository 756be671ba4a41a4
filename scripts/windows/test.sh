#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows build proven under Wine, in a private prefix under the build
# folder: (1) the tools answer in intact Portuguese; (2) tarvik-config reads,
# writes, exports and imports through COM5, a pseudo-terminal served by the
# simulated K931; (3) the window appears with its form and its About window
# (a screenshot goes to docs/windows-main-window.png); (4) the installer
# installs silently and its uninstaller removes what it installed and leaves
# the owner's data. What Wine cannot show is in docs/windows.md.
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$PWD
out=${WINDOWS_BUILD_DIR:-$top/build-windows}
[ -f "$out/dist/tarvik-connect.exe" ] || bash scripts/windows/build.sh
bash scripts/install-deps.sh scripts/windows/test.sh --windows
linux=$top/${BUILD_DIR:-build}
sim=$linux/tools/k931-simulator/tarvik-k931-sim
[ -x "$sim" ] && [ -x "$linux/tools/tarvik-config/tarvik-config" ] ||
  BUILD_TARGETS="tarvik-k931-sim tarvik-config" bash scripts/build.sh
version=$(sed -n 's/^project(TarvikConnect VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
dist=$out/dist

export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$WINEPREFIX"
timeout 300 wine wineboot --init >/dev/null 2>&1
wineserver -w

passed=0
failed=0
check() { # name, then the command that must succeed
  local name=$1; shift
  if "$@"; then echo "PASS: $name"; passed=$((passed + 1)); else echo "FAIL: $name"; failed=$((failed + 1)); fi
}
win() { timeout 60 wine "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# 1. The tools answer, with every accent intact (UTF-8, as on Linux).
tools_answer() {
  [ "$(win "$dist/tarvik-dfu.exe" --version)" = "tarvik-dfu $version" ] &&
    win "$dist/tarvik-config.exe" --help >"$work/help-windows.txt" &&
    "$linux/tools/tarvik-config/tarvik-config" --help >"$work/help-linux.txt" &&
    cmp "$work/help-windows.txt" "$work/help-linux.txt" &&
    grep -q "configurações" "$work/help-windows.txt"
}
check "tarvik-dfu --version, tarvik-config --help em português" tools_answer

# 2. Settings through COM5, the simulated K931 on a pseudo-terminal.
"$sim" --pty >"$work/pty" 2>"$work/sim.log" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/pty" ] && break; sleep 0.1; done
ln -sfn "$(cat "$work/pty")" "$WINEPREFIX/dosdevices/com5"
# Each output is taken whole before it is looked at: a reader that stops
# early would cut the program off.
config() { win "$dist/tarvik-config.exe" --port COM5 "$@"; }
serial_settings() {
  local settings="$work/configuração.json" windows out
  windows="Z:${settings//\//\\}"
  out=$(config read --json) && [[ $out == *'"rpm":6500'* ]] &&
    out=$(config write rpm=7000) && [[ $out == *"Gravado e conferido: rpm"* ]] &&
    out=$(config read --json) && [[ $out == *'"rpm":7000'* ]] &&
    config export "$windows" >/dev/null && grep -q '"rpm": 7000' "$settings" &&
    config write rpm=6500 >/dev/null &&
    out=$(config import "$windows") && [[ $out == *"Gravado e conferido: rpm"* ]] &&
    out=$(config read --json) && [[ $out == *'"rpm":7000'* ]] &&
    ! out=$(win "$dist/tarvik-config.exe" --port COM9 read) && [[ $out == *"a porta não existe"* ]]
}
check "tarvik-config read, write, export e import pela COM5" serial_settings

# 3. The window under X: its form, then "Ajuda" > "Sobre".
export DISPLAY=:${WINDOWS_TEST_DISPLAY:-91}
Xvfb "$DISPLAY" -screen 0 1024x768x24 >/dev/null 2>&1 &
pids+=($!)
sleep 1
window_opens() {
  local id about=""
  wine "$dist/tarvik-connect.exe" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 60); do id=$(xdotool search --name '^Tarvik Connect$' 2>/dev/null | head -1); [ -n "$id" ] && break; sleep 0.5; done
  [ -n "$id" ] || return 1
  sleep 2 # the form paints
  eval "$(xdotool getwindowgeometry --shell "$id")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$work/window.png"
  xdotool mousemove $((X + 24)) $((Y + 8)) click 1
  sleep 1
  xdotool mousemove $((X + 40)) $((Y + 30)) click 1
  for _ in $(seq 20); do about=$(xdotool search --name '^Sobre$' 2>/dev/null | head -1); [ -n "$about" ] && break; sleep 0.5; done
  [ -n "$about" ] && cp "$work/window.png" docs/windows-main-window.png
}
check "tarvik-connect.exe: janela principal e Sobre" window_opens
wineserver -k 2>/dev/null || true
wineserver -w

# 4. The installer, silently, and its uninstaller.
installs_and_uninstalls() {
  local dir="$WINEPREFIX/drive_c/Program Files/Tarvik Connect"
  local menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tarvik Connect"
  local data="$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/AppData/Roaming/tarvik-connect/backups"
  win "$out/TarvikConnect-$version-setup.exe" /S >/dev/null; wineserver -w
  [ -f "$dir/tarvik-connect.exe" ] && [ -f "$dir/platforms/qwindows.dll" ] && [ -f "$menu/Tarvik Connect.lnk" ] &&
    [ "$(win "C:\\Program Files\\Tarvik Connect\\tarvik-dfu.exe" --version)" = "tarvik-dfu $version" ] || return 1
  mkdir -p "$data" && echo ":00000001FF" >"$data/copia-do-dono.hex"
  win "C:\\Program Files\\Tarvik Connect\\Desinstalar.exe" /S >/dev/null; wineserver -w
  [ ! -e "$dir" ] && [ ! -e "$menu" ] && [ -f "$data/copia-do-dono.hex" ]
}
check "instalador /S e desinstalador" installs_and_uninstalls

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
