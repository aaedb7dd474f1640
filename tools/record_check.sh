#!/usr/bin/env bash
# End to end: recordings made by `recmux record` read back with ffprobe and
# ffmpeg as exactly the frames that went in.
# usage: record_check.sh path/to/recmux
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

decoded_md5s() {
    ffmpeg -v error -i "$1" -f framemd5 - 2>/dev/null | awk -F', *' '!/^#/ { print $NF }'
}

# check NAME CODEC FRAMES RATE [recmux arguments...]: the tool accepts FRAMES
# frames, and the file holds them as CODEC 640x360 at RATE, decoding cleanly.
check() {
    local name=$1 codec=$2 frames=$3 rate=$4
    shift 4
    local out=$work/$name.mp4 log=$work/$name.log before=$failures
    if ! "$tool" record -o "$out" "$@" >"$log" 2>&1; then
        fail "$name: recmux exited non-zero"
        sed 's/^/    /' "$log"
        return 1
    fi
    local accepted
    accepted=$(sed -n 's/^frames passed: [0-9]*, accepted: \([0-9]*\)$/\1/p' "$log")
    [ "$accepted" = "$frames" ] || fail "$name: $accepted frames accepted, expected $frames"
    local probe expected="$codec,640,360,$rate,$frames"
    probe=$(ffprobe -v error -count_frames -select_streams v:0 -of csv=p=0 \
        -show_entries stream=codec_name,width,height,r_frame_rate,nb_read_frames "$out")
    [ "$probe" = "$expected" ] || fail "$name: ffprobe reads '$probe', expected '$expected'"
    local errors
    errors=$(ffmpeg -v error -i "$out" -f null - 2>&1)
    [ -z "$errors" ] || fail "$name: decoding reports: $errors"
    [ "$failures" -eq "$before" ] && echo "ok: $name ($probe)"
}

fragmented() {
    [ "$(grep -ac moof "$work/$1.mp4")" -gt 0 ] || fail "$1: no moof box, so not fragmented"
}

plain() {
    [ "$(grep -ac moof "$work/$1.mp4")" -eq 0 ] || fail "$1: has moof boxes, expected a plain MP4"
}

same_pictures() {
    local expected
    expected=$(decoded_md5s "$1")
    [ -n "$expected" ] && [ "$expected" = "$(decoded_md5s "$work/$2.mp4")" ] ||
        fail "$2: decoded pictures differ from those of $1"
}

# The built-in test pattern.
check default h264 250 25/1 && plain default
check pattern_h265 hevc 100 25/1 --codec h265 --seconds 4 && plain pattern_h265
check fragmented_h264 h264 100 25/1 --fragmented --seconds 4 && fragmented fragmented_h264
check fragmented_h265 hevc 100 25/1 --fragmented --codec h265 --seconds 4 &&
    fragmented fragmented_h265
check rate_30 h264 120 30/1 --fps 30 --seconds 4
# More than 500 frames: the output opens during the recording, not at close.
check long_h264 h264 600 25/1 --seconds 24
check callback_h264 h264 100 25/1 --callback --seconds 4 && fragmented callback_h264

(cd "$work" && "$tool" record --seconds 1 >/dev/null 2>&1) &&
    [ -s "$work/recmux-demo.mp4" ] || fail "without -o: no recmux-demo.mp4 was written"

# Elementary streams made by the ffmpeg CLI.
source_args=(-v error -y -f lavfi -i testsrc2=size=640x360:rate=25 -t 4 -pix_fmt yuv420p -bf 0 -g 25)
ffmpeg "${source_args[@]}" -c:v libx264 "$work/in.h264" &&
    ffmpeg "${source_args[@]}" -c:v libx264 -bsf:v h264_metadata=aud=insert "$work/aud.264" &&
    ffmpeg "${source_args[@]}" -c:v libx265 -x265-params log-level=error "$work/in.hevc" ||
    fail "the ffmpeg CLI could not make the inputs"
check input_h264 h264 100 25/1 -i "$work/in.h264" && same_pictures "$work/in.h264" input_h264
check input_aud h264 100 25/1 -i "$work/aud.264" && same_pictures "$work/aud.264" input_aud
check input_hevc hevc 100 25/1 -i "$work/in.hevc" --fragmented &&
    fragmented input_hevc && same_pictures "$work/in.hevc" input_hevc
check input_callback hevc 100 25/1 -i "$work/in.hevc" --callback &&
    same_pictures "$work/in.hevc" input_callback

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all recordings check out"
