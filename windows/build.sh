#!/usr/bin/env bash
# Usage: windows/build.sh [LINUX_BUILD]
# Builds librecmux.dll for 32- and 64-bit Windows with an FFmpeg of our own,
# checks each under Wine against the Linux library (built in LINUX_BUILD,
# default build-linux, when it is not there), and packages both.
set -euo pipefail
cd "$(dirname "$0")/.."
linux=${1:-build-linux}
if [ ! -f "$linux/librecmux.so" ]; then
    cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
    cmake --build "$linux" --target recmux
fi
for arch in i686 x86_64; do
    ffmpeg=$(windows/build-ffmpeg.sh $arch | tail -n 1)
    build=build-win-$arch
    PKG_CONFIG_LIBDIR=$ffmpeg/lib/pkgconfig cmake -S . -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-$arch.cmake -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_TESTING=OFF -DRECMUX_WERROR=ON -DRECMUX_FFMPEG_SUFFIX=-recmux \
        -DRECMUX_FFMPEG_PREFIX="$ffmpeg"
    cmake --build "$build"
    windows/check.sh $arch "$build" "$linux/librecmux.so" "$ffmpeg"
    (cd "$build" && cpack -G ZIP)
done
ls -l build-win-*/librecmux-*.zip
