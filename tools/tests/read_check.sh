#!/usr/bin/env bash
# `recmux info` counts what ffprobe counts, `recmux extract` writes a stream that
# decodes to the frames of the MP4 and shows progress only on a terminal, and a
# packet too large for the tool's buffer is reported as lost.
# usage: read_check.sh path/to/recmux
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*" && failures=$((failures + 1)); }
md5s() { ffmpeg -nostdin -v error -i "$1" -map 0:v:0 -f framemd5 - | grep -v '^#' | cut -d, -f6; }
# Side data adds lines of its own; every packet line starts with its size.
count() { ffprobe -v error -select_streams "$2" -show_entries packet=size -of csv=p=0 "$1" | grep -c '^[0-9]'; }
make_mp4() {
    ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 "${@:2}" "$1" || fail "no $1"
}

make_mp4 h264.mp4 -f lavfi -i sine=sample_rate=48000 -t 2 -pix_fmt yuv420p -c:v libx264 -bf 2 -c:a aac -t 2
make_mp4 hevc.mp4 -frames:v 30 -pix_fmt yuv420p -c:v libx265 -x265-params log-level=error
make_mp4 mpeg4.mp4 -frames:v 30 -c:v mpeg4 -bf 2

video=$(count h264.mp4 v:0) audio=$(count h264.mp4 a:0)
info=$("$tool" info h264.mp4) || fail "info h264.mp4 failed: $info"
grep -qx "fps: 25.000" <<<"$info" && grep -qx "video: $video packets, .*" <<<"$info" &&
    grep -q "^audio: $audio packets" <<<"$info" && grep -qx "packets: $((video + audio))" <<<"$info" ||
    fail "info does not count what ffprobe counts ($video video, $audio audio): $info"
"$tool" info --json h264.mp4 | jq -e --argjson v "$video" --argjson a "$audio" \
    '.fps == 25 and .video.packets == $v and .audio.packets == $a and .lost == 0' >/dev/null ||
    fail "info --json does not parse to the counts"
"$tool" info --json hevc.mp4 | jq -e '.audio == null and .video.key_frames >= 1' >/dev/null ||
    fail "info --json hevc.mp4 does not say it has no audio"

# script(1) gives the tool a terminal; a pipe must never see the progress line.
script -qec "'$tool' extract h264.mp4 -o tty.h264" /dev/null | grep -q "recmux: extracting" ||
    fail "extract shows no progress on a terminal"
"$tool" extract h264.mp4 -o pipe.h264 2>&1 | grep -q "extracting" && fail "extract shows progress on a pipe"
for pair in h264.mp4:out.h264 hevc.mp4:out.hevc mpeg4.mp4:out.m4v; do
    mp4=${pair%%:*} out=${pair#*:}
    "$tool" extract "$mp4" -o "$out" >/dev/null || fail "extract $mp4 failed"
    [ "$(md5s "$out")" = "$(md5s "$mp4")" ] || fail "$out does not decode to the frames of $mp4"
done

# Lossless noise at 3840x2160 makes key frames far above the 4 MiB first buffer.
ffmpeg -nostdin -v error -y -f lavfi -i "nullsrc=size=3840x2160:rate=25,geq=random(1)*255:128:128" \
    -frames:v 3 -pix_fmt yuv420p -c:v libx264 -qp 0 -preset ultrafast big.mp4 || fail "no big.mp4"
output=$("$tool" extract big.mp4 -o big.h264 2>&1)
[ $? -eq 1 ] && grep -q "the first: a video packet of .* did not fit in 4194304" <<<"$output" &&
    grep -q "wrote 2 video packets" <<<"$output" || fail "extract of big.mp4 lost no packet, or all: $output"

[ "$failures" -eq 0 ] || exit 1
echo "all read checks pass"
