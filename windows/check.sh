#!/usr/bin/env bash
# Usage: windows/check.sh ARCH WINDOWS_BUILD LINUX_LIBRARY FFMPEG_PREFIX
# Records fixtures with librecmux.dll under Wine and with the Linux library,
# through the same program, and compares what the two wrote.
set -euo pipefail
arch=$1 build=$(realpath "$2") linux_library=$(realpath "$3") ffmpeg=$4
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$here/wine_up.sh"

md5() { ffmpeg -v error -i "$1" -map 0:v -f framemd5 - | grep -v '^#'; }
fail=0
for codec in h264 h265; do
    encoder=libx264 metadata=h264_metadata
    [ $codec = h265 ] && encoder=libx265 metadata=hevc_metadata
    ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=640x360:rate=25 -frames:v 150 \
        -pix_fmt yuv420p -c:v $encoder -g 25 -bf 0 -x265-params log-level=error \
        -bsf:v $metadata=aud=insert -f ${codec/h265/hevc} "$work/$codec.es" 2>/dev/null
    python3 "$here/make_units.py" "$work/$codec.es" $codec "$work/$codec.units"

    mkdir -p "$work/linux-$codec" "$work/windows-$codec"
    cc -std=c99 -I"$root/include" "$root/tests/windows/dll_check.c" -o "$work/check" -ldl
    "$work/check" "$linux_library" "$work/$codec.units" "$work/linux-$codec" >/dev/null

    bin=$work/windows-$codec
    cp "$build/librecmux.dll" "$ffmpeg"/bin/*.dll "$bin/"
    cp "$work/$codec.units" "$bin/units"
    $arch-w64-mingw32-gcc-posix -std=c99 -O2 -I"$root/include" -static-libgcc \
        "$root/tests/windows/dll_check.c" -o "$bin/check.exe"
    (cd "$bin" && { wine check.exe librecmux.dll units . crash >/dev/null || true; } &&
        wine check.exe librecmux.dll units .) | sed "s/^/$arch $codec: /" || fail=1

    for name in plain fragmented callback; do
        [ "$(md5 "$work/linux-$codec/$name.mp4")" = "$(md5 "$bin/$name.mp4")" ] ||
            { echo "FAILED: $arch $codec $name.mp4: the video differs from Linux's"; fail=1; }
        python3 "$here/box_layout.py" "$work/linux-$codec/$name.mp4" "$bin/$name.mp4" ||
            { echo "FAILED: $arch $codec $name.mp4: the box layout differs"; fail=1; }
        sound=$(ffprobe -v error -select_streams a -show_entries stream=codec_name,duration \
            -of csv=p=0 "$bin/$name.mp4")
        case $sound in aac,[5-9].*|aac,1[0-9].*|aac,N/A) ;; *)
            echo "FAILED: $arch $codec $name.mp4: sound $sound"; fail=1 ;; esac
    done
    # The tool records the stream as the Linux one does; the pattern needs an encoder it lacks.
    cp "$build/recmux.exe" "$bin/"
    cp "$work/$codec.es" "$bin/in.$codec"
    (cd "$bin" && wine recmux.exe record -i in.$codec -o tool.mp4 >/dev/null &&
        wine recmux.exe extract tool.mp4 -o out.$codec >/dev/null) ||
        { echo "FAILED: $arch $codec: recmux.exe record or extract"; fail=1; }
    [ "$(md5 "$work/$codec.es")" = "$(md5 "$bin/tool.mp4")" ] &&
        [ "$(md5 "$work/$codec.es")" = "$(md5 "$bin/out.$codec")" ] ||
        { echo "FAILED: $arch $codec: recmux.exe did not record the stream as it came"; fail=1; }
    # The recording a reader kept from its name is set aside whole, the old file left as it was.
    count() { ffprobe -v error -count_packets -select_streams v -show_entries stream=nb_read_packets \
        -of csv=p=0 "$1"; }
    [ "$(count "$bin/held.mp4")/$(count "$bin/held.recovered.mp4")" = 150/300 ] ||
        { echo "FAILED: $arch $codec: a recording held by a reader lost frames"; fail=1; }
    frames=$(count "$bin/crashed.mp4")
    [ "$frames" -ge 25 ] && [ "$frames" -le 75 ] ||
        { echo "FAILED: $arch $codec: the killed recording kept $frames frames"; fail=1; }
done
refusal=$(cd "$work/windows-h264" && wine recmux.exe record -o pattern.mp4 2>&1 >/dev/null || true)
[[ $refusal == *"no libx264 encoder for the built-in test pattern; record a stream with -i FILE"* ]] ||
    { echo "FAILED: $arch: recmux.exe without -i does not say why it cannot"; fail=1; }
exit $fail
