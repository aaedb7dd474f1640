#!/usr/bin/env bash
# The Debian packages on their own: unpacked into an empty root, the three of
# them (with FFmpeg from the system, as their Depends bring it) must build and
# run the README's recorder and the examples, through pkg-config and through
# find_package, and the tool must run from them without an RPATH.
#     tests/packages_check.sh DIR_WITH_THE_DEBS
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
debs=$(cd "$1" && pwd)
version=$(sed -n 's/^#define RECMUX_VERSION_[A-Z]* \([0-9]*\)$/\1/p' \
    "$src/include/recmux/recmux_library.h" | paste -sd.)
multiarch=$(cc -print-multiarch)
lib=usr/lib/$multiarch
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
fail() { echo "packages_check: $*" >&2; exit 1; }
# What the programs print (FFmpeg's log among it) is shown only when one fails.
run() { "$@" >"$work/log" 2>&1 || { cat "$work/log"; fail "$* failed"; }; }

# Package, the files it alone may hold, and those it must hold; unpacks it
# into the root and leaves its Depends in $depends.
check_package() {
    local name=$1 allowed=$2 required=$3 deb files file
    deb=$debs/${name}_${version}_$(dpkg --print-architecture).deb
    [ -f "$deb" ] || fail "no $deb"
    [ "$(dpkg-deb -f "$deb" Package)" = "$name" ] || fail "$deb is not $name"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$name is not version $version"
    # A synopsis and at least one line of extended description.
    [ "$(dpkg-deb -f "$deb" Description | wc -l)" -ge 3 ] || fail "$name has a one-line description"
    files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print substr($6, 3)}')
    for file in $files; do
        [[ $file =~ ^($allowed|usr/share/doc/$name/copyright)$ ]] || fail "$name holds $file"
    done
    for file in $required usr/share/doc/"$name"/copyright; do
        grep -qx "$file" <<<"$files" || fail "$name lacks $file"
    done
    dpkg-deb -x "$deb" "$root"
    grep -q '^Format: .*copyright-format/1.0/$' "$root/usr/share/doc/$name/copyright" ||
        fail "$name's copyright is not machine-readable"
    depends=$(dpkg-deb -f "$deb" Depends)
}

check_package librecmux1 "$lib/librecmux\.so\.1(\.[0-9]+\.[0-9]+)?" \
    "$lib/librecmux.so.1 $lib/librecmux.so.$version"
grep -Eq 'libavformat[0-9]+ ' <<<"$depends" || fail "librecmux1 lacks its shlibs Depends: $depends"
check_package librecmux-dev "usr/include/recmux/[a-z_]+\.h|$lib/librecmux\.so|$lib/pkgconfig/recmux\.pc|$lib/cmake/recmux/recmux[A-Za-z-]*\.cmake" \
    "usr/include/recmux/recmux_writer.h $lib/librecmux.so $lib/pkgconfig/recmux.pc $lib/cmake/recmux/recmuxConfig.cmake"
[ "$depends" = "librecmux1 (= $version), libavformat-dev, libavcodec-dev, libavutil-dev, libswresample-dev" ] ||
    fail "librecmux-dev Depends: $depends"
check_package recmux-tools "usr/bin/recmux" "usr/bin/recmux"
[[ $depends =~ ^librecmux1\ \(=\ $version\),\ .*libavcodec[0-9]+\  ]] || fail "recmux-tools Depends: $depends"
! readelf -d "$root/usr/bin/recmux" | grep -Eq 'RPATH|RUNPATH' || fail "recmux has an RPATH"

export LD_LIBRARY_PATH=$root/$lib
cd "$work"
run "$root/usr/bin/recmux" record --no-audio --seconds 2 -o pattern.mp4
run "$root/usr/bin/recmux" extract pattern.mp4 -o pattern.h264

export PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_PATH=$root/$lib/pkgconfig
[[ $(pkg-config --cflags --libs recmux) == "-I$root/usr/include "*"-L$root/$lib -lrecmux"* ]] ||
    fail "pkg-config recmux: $(pkg-config --cflags --libs recmux)"
# The README's recorder, built with the README's own line.
awk '/^```c$/ {block = ""; on = 1; next} /^```$/ && on {if (block ~ /int main/) {printf "%s", block; exit} on = 0}
     on {block = block $0 "\n"}' "$src/README.md" >rec.c
build_line=$(grep -m1 '^cc rec\.c ' "$src/README.md") || fail "README shows no build line for rec.c"
eval "$build_line -std=c99 -pedantic -Wall -Wextra -Werror"
run ffmpeg -nostdin -v error -i pattern.h264 -c copy -f image2 unit%03d.h264
run ./rec readme.mp4 unit*.h264
"$root/usr/bin/recmux" info --json readme.mp4 | grep -q '"video": {"packets": 50,' ||
    fail "the README's recorder did not record 50 frames: $("$root/usr/bin/recmux" info readme.mp4)"
for example in record_annexb read_mp4; do
    # shellcheck disable=SC2046 # pkg-config's flags are meant to split
    cc -std=c99 -pedantic -Wall -Wextra -Werror "$src/examples/$example.c" -o "$example" \
        $(pkg-config --cflags --libs recmux) -lm
done
run ./record_annexb pattern.h264 pc.mp4
run ./read_mp4 pc.mp4
unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_PATH

run cmake -S "$src/examples" -B cmake -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" \
    -DCMAKE_C_FLAGS="-Wall -Wextra -Werror"
grep -qx "recmux_DIR:PATH=$root/$lib/cmake/recmux" cmake/CMakeCache.txt ||
    fail "find_package did not take the packages' recmux: $(grep recmux_DIR cmake/CMakeCache.txt)"
run cmake --build cmake
run cmake/record_annexb pattern.h264 cmake.mp4
run cmake/read_mp4 cmake.mp4
echo "packages_check: librecmux1, librecmux-dev and recmux-tools $version pass"
