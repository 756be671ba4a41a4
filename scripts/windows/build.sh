#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-builds Tarvik Connect for 64-bit Windows on Debian 12 and makes what
# a Windows user is handed: a folder that runs as it is, its zip, and an
# installer. Qt 6.4.2 for Windows comes unpacked from ../shared/windows when
# it is there, else it is built once by scripts/windows/build-cross-qt.sh
# into a cache folder outside the checkout; libwdi, for the update mode's
# driver installer, is built once from ../shared/windows with the project's
# patch into the same cache. Output in build-windows/ (or
# $WINDOWS_BUILD_DIR): dist/, TarvikConnect-VERSION-win64.zip and
# TarvikConnect-VERSION-setup.exe.
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$PWD
bash scripts/install-deps.sh scripts/windows/build.sh --windows

out=${WINDOWS_BUILD_DIR:-$top/build-windows}
cache=${TARVIK_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarvik-windows}
qt=$cache/prefix
# Whole only with its last parts: a build of Qt cut short is started again.
if [ ! -d "$qt/lib/cmake/Qt6SerialPort" ] || [ ! -f "$qt/bin/libusb-1.0.dll" ]; then
  rm -rf "$qt"
  mkdir -p "$cache"
  shared=$top/../shared/windows/qt6.4.2-mingw64-libusb.tar.xz
  if [ -f "$shared" ]; then
    echo "Qt para Windows: $shared"
    tar xJf "$shared" -C "$cache"
  else
    echo "Qt para Windows: construído das fontes do Debian (cerca de uma hora)"
    bash scripts/windows/build-cross-qt.sh "$cache"
  fi
fi

# libwdi, cross-built with its embedder run on this machine; cached under the
# hashes of its source and of the patch, so that a changed patch rebuilds.
wdi_source=$top/../shared/windows/libwdi-1.5.1-4-g30df0c0.tar.xz
wdi_patch=$top/packaging/windows/libwdi-inbox-winusb.patch
[ -f "$wdi_source" ] || { echo "Falta $wdi_source (a fonte da libwdi)" >&2; exit 1; }
wdi=$cache/libwdi-$(cat "$wdi_source" "$wdi_patch" | sha256sum | cut -c1-16)
if [ ! -f "$wdi/lib/libwdi.a" ]; then
  echo "libwdi para Windows: $wdi_source"
  rm -rf "$cache"/libwdi-*
  work=$cache/libwdi-build.tmp
  mkdir -p "$work"
  tar xJf "$wdi_source" -C "$work"
  (cd "$work/libwdi" && patch -p1 --quiet <"$wdi_patch" && ./bootstrap.sh >"$work/bootstrap.log" 2>&1 &&
    CC_FOR_BUILD=gcc ./configure -q --host=x86_64-w64-mingw32 --disable-32bit --disable-shared \
      --enable-inbox-winusb --prefix="$wdi.tmp" >"$work/configure.log" &&
    make -s -j"$(nproc)" >"$work/make.log" 2>&1 && make -s install >/dev/null) ||
    { echo "libwdi não foi construída: veja $work" >&2; exit 1; }
  mv "$wdi.tmp" "$wdi"
  rm -rf "$work"
fi

version=$(sed -n 's/^project(TarvikConnect VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
PKG_CONFIG_LIBDIR=$qt/lib/pkgconfig cmake -S . -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$top/packaging/windows/toolchain-mingw64.cmake" -DTARVIK_WINDOWS_QT="$qt" -DTARVIK_LIBWDI="$wdi" \
  -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DTARVIK_BUILD_TESTS=OFF -DTARVIK_BUILD_BENCH=OFF -DTARVIK_MAN_PAGES=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build "$out/build" --parallel "$(nproc)"

# The folder a user runs from: the programs, the Qt libraries and the
# plugins they load, libusb, the compiler's runtime, the licence.
dist=$out/dist
rm -rf "$dist"
mkdir -p "$dist/platforms" "$dist/styles" "$dist/tls"
cp "$out/build/src/tarvik-connect.exe" "$out/build/tools/tarvik-config/tarvik-config.exe" \
   "$out/build/tools/tarvik-dfu/tarvik-dfu.exe" "$out/build/tools/tarvik-driver/tarvik-driver.exe" "$dist/"
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6Network Qt6SerialPort libusb-1.0; do cp "$qt/bin/$dll.dll" "$dist/"; done
cp "$qt/plugins/platforms/qwindows.dll" "$dist/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$dist/styles/"
cp "$qt/plugins/tls/qschannelbackend.dll" "$dist/tls/"
cp /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_s_seh-1.dll \
   /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$dist/"
cp LICENSE "$dist/LICENSE.txt"
cp packaging/windows/driver.txt "$dist/Driver do modo de atualização.txt"

# What the uninstaller removes, made from the folder itself: every file,
# then the subfolders, deepest first.
files=$out/files.nsh
(cd "$dist" && find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|.*|  Delete "$INSTDIR\\&"|' &&
  find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|  RMDir "$INSTDIR\\&"|') >"$files"

zip="$out/TarvikConnect-$version-win64.zip"
rm -f "$zip"
(cd "$out" && mv dist "TarvikConnect-$version" && zip -qr "$zip" "TarvikConnect-$version" && mv "TarvikConnect-$version" dist)
makensis -V2 -DVERSION="$version" -DDIST="$dist" -DFILES="$files" -DOUTFILE="$out/TarvikConnect-$version-setup.exe" \
  -DICON="$top/resources/windows/tarvik-connect.ico" packaging/windows/tarvik-connect.nsi
ls -l "$zip" "$out/TarvikConnect-$version-setup.exe"
