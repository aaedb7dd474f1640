#!/usr/bin/env bash
# Usage: windows/build.sh [LINUX_BUILD]
# Builds librecmux.dll and recmux.exe for 32- and 64-bit Windows with an FFmpeg
# of our own, runs the library's tests under Wine (with the test media kept in
# LINUX_BUILD/fixtures), checks each against the Linux library (built in
# LINUX_BUILD, default build-linux, when it is not there), and packages both.
set -euo pipefail
cd "$(dirname "$0")/.."
linux=${1:-build-linux}
if [ ! -f "$linux/librecmux.so" ]; then
    cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
    cmake --build "$linux" --target recmux
fi
for arch in i686 x86_64; do
    ffmpeg=$(windows/build-ffmpeg.sh $arch | tail -n 1)
    . windows/wine_up.sh
    build=build-win-$arch
    PKG_CONFIG_LIBDIR=$ffmpeg/lib/pkgconfig cmake -S . -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-$arch.cmake -DCMAKE_BUILD_TYPE=Release \
        -DRECMUX_WERROR=ON -DRECMUX_FFMPEG_SUFFIX=-recmux -DRECMUX_FFMPEG_PREFIX="$ffmpeg" \
        -DBUILD_TESTING=ON -DRECMUX_BENCH=OFF -DCMAKE_CROSSCOMPILING_EMULATOR=wine \
        -DRECMUX_FIXTURES="$(realpath "$linux")/fixtures"
    cmake --build "$build"
    # The tests keep their files in Linux's /tmp, where the Linux peers they start
    # find them by the same names; Wine makes names Linux ones in UTF-8.
    WINEPATH="Z:$ffmpeg/bin" RECMUX_TEST_TMP=/tmp LC_ALL=C.UTF-8 \
        ctest --test-dir "$build" -j2 --output-on-failure
    windows/check.sh $arch "$build" "$linux/librecmux.so" "$ffmpeg"
    (cd "$build" && cpack -G ZIP)
done
ls -l build-win-*/librecmux-*.zip
