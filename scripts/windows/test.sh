#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows build proven under Wine, in a private prefix under the build
# folder: (1) the tools answer in intact Portuguese; (2) tarvik-config reads,
# writes, exports and imports through COM5, a pseudo-terminal served by the
# simulated K931; (3) the window appears with its form and its About window
# (a screenshot goes to docs/windows-main-window.png); (4) tarvik-driver
# writes an INF for the STM32 bootloader alone that takes WinUSB from
# Windows' own winusb.inf, and tells the bootloader's driver without a
# device; (5) the installer installs silently, with the update mode's driver
# pre-installed for a bootloader not plugged yet (none with /NODRIVER), and
# its uninstaller removes what it installed and leaves the owner's data and
# the driver. What Wine cannot show is in docs/windows.md.
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

# No display of the caller's: Wine's console programs and wineboot must not
# reach for an X server that may not answer; the window gets its own below.
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# Whatever stops this script early says where, rather than ending it
# without a word.
trap 'echo "windows: parou na linha $LINENO ($BASH_COMMAND), status $?" >&2' ERR
rm -rf "$WINEPREFIX"
echo "windows: preparando o prefixo do Wine em $WINEPREFIX"
# A prefix that wineboot reports as not made whole is made by the first
# program anyway: the checks below judge whether Wine works, and its log is
# shown for the reason.
if ! timeout 300 wine wineboot --init >"$work/wineboot.log" 2>&1; then
  echo "windows: wineboot --init terminou com erro; o prefixo será feito pelo primeiro programa:"
  tail -n 20 "$work/wineboot.log"
fi
wineserver -w || true

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

# A folder source under an accented name, as an owner's profile folder is
# (C:\Users\João): its file addresses must reach the files.
accented_source() {
  local users="$WINEPREFIX/drive_c/users/João" out t
  mkdir -p "$users/k931"
  for t in OBD OBD_Boost OBD_Flex OBD_Boost_Flex; do
    "$sim" --sample-firmware "$users/k931/K931_$t.hex" "K931 V1.6 ${t//_/ }" >/dev/null 2>&1 || return 1
  done
  printf '{"Modelo": ["K931"], "Version": "1.6"}' >"$users/k931/data.json"
  out=$(win "$dist/tarvik-config.exe" mirror 'C:\users\João\cópia' --source 'C:\users\João\k931') &&
    [[ $out == *"4 arquivos de firmware"* ]] && cmp -s "$users/k931/K931_OBD_Boost.hex" "$users/cópia/K931_OBD_Boost.hex"
}
check "tarvik-config mirror de uma pasta com acento (C:\\users\\João)" accented_source

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

# 4. The driver installer, without installing, and its status.
# INF files are UTF-16; read as UTF-8 text without carriage returns, with
# the device's id put in for %DeviceID% as Windows reads it.
inf_text() {
  local text id
  text=$(iconv -f UTF-16 -t UTF-8 "$1" 2>/dev/null | tr -d '\r') || return 1
  id=$(sed -n 's/^DeviceID *= *"\(.*\)"$/\1/p' <<<"$text" | head -1)
  sed "s/%DeviceID%/${id//&/\\&}/g" <<<"$text"
}
driver_prepared() {
  local dir="$work/driver" inf catalog out
  out=$(win "$dist/tarvik-driver.exe" --prepare-only "Z:${dir//\//\\}") || { echo "$out"; return 1; }
  inf=$(ls "$dir"/*.inf 2>/dev/null | head -1)
  [ -n "$inf" ] && inf_text "$inf" >"$work/driver.inf" || return 1
  grep -q 'USB\\VID_0483&PID_DF11' "$work/driver.inf" && grep -q '^Include *= *winusb.inf' "$work/driver.inf" &&
    grep -q '^Needs *= *WINUSB.NT' "$work/driver.inf" && ! grep -qi 'coinstaller[0-9]*\.dll' "$work/driver.inf" &&
    ! grep -qi 'VID_[0-9A-F]\{4\}&PID_' <(grep -v 'VID_0483&PID_DF11' "$work/driver.inf") &&
    catalog=$(sed -n 's/^CatalogFile *= *//p' "$work/driver.inf") && [ -n "$catalog" ] && [ -f "$dir/$catalog" ]
}
check "tarvik-driver --prepare-only: INF do bootloader STM32 com o winusb.inf do Windows" driver_prepared
driver_status() {
  local out code=0
  out=$(win "$dist/tarvik-driver.exe" --status) || code=$?
  [ "$code" -eq 10 ] && [[ $out == *"não está conectado"* ]]
}
check "tarvik-driver --status sem aparelho" driver_status
wineserver -k 2>/dev/null || true
wineserver -w

# 5. The installer, silently, with and without the driver, and its uninstaller.
# Whether Windows' INF folder holds an INF for the bootloader with WinUSB
# (Windows names the copy oemN.inf; Wine 8 keeps the file's own name).
driver_in_store() {
  local inf
  for inf in "$WINEPREFIX"/drive_c/windows/inf/*.inf; do
    [ -f "$inf" ] || continue
    inf_text "$inf" | grep -q 'USB\\VID_0483&PID_DF11' && inf_text "$inf" | grep -qi 'winusb' && return 0
  done
  return 1
}
installs_and_uninstalls() {
  local dir="$WINEPREFIX/drive_c/Program Files/Tarvik Connect"
  local menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tarvik Connect"
  local data="$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/AppData/Roaming/tarvik-connect/backups"
  local setup="$out/TarvikConnect-$version-setup.exe"
  # Without the driver: the programs only.
  timeout 300 wine "$setup" /S /NODRIVER >/dev/null 2>&1; wineserver -w
  [ -f "$dir/tarvik-driver.exe" ] && ! driver_in_store || { echo "/NODRIVER: driver no Windows ou programa faltando"; return 1; }
  win "C:\\Program Files\\Tarvik Connect\\Desinstalar.exe" /S >/dev/null; wineserver -w
  [ ! -e "$dir" ] || { echo "desinstalação depois de /NODRIVER incompleta"; return 1; }
  # With it, as a plain silent install: pre-installed for a bootloader not
  # plugged yet. The step is bounded; the setup must return in time.
  timeout 300 wine "$setup" /S >/dev/null 2>&1 || { echo "o instalador não terminou"; return 1; }
  wineserver -w
  [ -f "$dir/tarvik-connect.exe" ] && [ -f "$dir/platforms/qwindows.dll" ] && [ -f "$menu/Tarvik Connect.lnk" ] &&
    [ "$(win "C:\\Program Files\\Tarvik Connect\\tarvik-dfu.exe" --version)" = "tarvik-dfu $version" ] || return 1
  driver_in_store || { echo "o driver não foi para o Windows"; return 1; }
  mkdir -p "$data" && echo ":00000001FF" >"$data/copia-do-dono.hex"
  win "C:\\Program Files\\Tarvik Connect\\Desinstalar.exe" /S >/dev/null; wineserver -w
  [ ! -e "$dir" ] && [ ! -e "$menu" ] && [ -f "$data/copia-do-dono.hex" ] && driver_in_store
}
check "instalador /S (com o driver e com /NODRIVER) e desinstalador" installs_and_uninstalls

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
