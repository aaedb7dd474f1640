#!/usr/bin/env bash
# End to end: recordings made by `recmux record` read back with ffprobe and
# ffmpeg as exactly the frames that went in, and their sound as the tone.
# usage: record_check.sh path/to/recmux path/to/recmux_tone_probe
set -uo pipefail
tool=$1
tone_probe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

decoded_md5s() {
    ffmpeg -v error -i "$1" -map 0:v:0 -f framemd5 - 2>/dev/null | awk -F', *' '!/^#/ { print $NF }'
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

# tone NAME RATE HZ RMS_DB: one AAC mono stream at RATE as long as the video,
# whose middle second is a tone of HZ (nearly all its energy in that bin) at
# RMS_DB within 2 dB. A wrong codec or packing gives noise or a wrong level.
tone() {
    local name=$1 rate=$2 hz=$3 rms=$4 out=$work/$1.mp4 before=$failures
    local passed
    passed=$(sed -n 's/^audio frames passed: \([0-9]*\).*/\1/p' "$work/$name.log")
    [ "${passed:-0}" -gt 0 ] || fail "$name: the tool passed no audio frames"
    local probe expected="aac,$rate,1"
    probe=$(ffprobe -v error -select_streams a -of csv=p=0 \
        -show_entries stream=codec_name,channels,sample_rate "$out")
    [ "$probe" = "$expected" ] || fail "$name: audio streams '$probe', expected '$expected'"
    # Where each stream ends: the encoder's priming may lie before 0, hidden by an edit list.
    local ends
    ends=$(ffprobe -v error -of csv=p=0 -show_entries stream=start_time,duration "$out" |
        awk -F, '{ printf "%.3f ", $1 + $2 }')
    awk -v d="$ends" 'BEGIN {
        split(d, x, " "); exit !(x[2] - x[1] < 0.2 && x[1] - x[2] < 0.2) }' ||
        fail "$name: video and audio end at $ends, 0.2 s or more apart"
    local measured
    measured=$(ffmpeg -v error -i "$out" -map 0:a -f s16le -ac 1 - | "$tone_probe" "$rate")
    awk -v m="$measured" -v hz="$hz" -v rms="$rms" 'BEGIN {
        split(m, x, " ")
        exit !(x[1] == hz && x[2] >= 0.95 && x[3] - rms < 2 && rms - x[3] < 2) }' ||
        fail "$name: the sound measures '$measured' (Hz, share, dBFS); expected $hz Hz, $rms dBFS"
    [ "$failures" -eq "$before" ] && echo "ok: $name sound ($probe, $measured)"
}

silent() {
    local streams
    streams=$(ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 \
        "$work/$1.mp4")
    [ -z "$streams" ] || fail "$1: has an audio stream, expected none"
}

# The built-in test pattern and its tone: 1 kHz at -12 dBFS peak, -15 dBFS RMS.
check default h264 250 25/1 && plain default && tone default 8000 1000 -15
check pattern_h265 hevc 100 25/1 --codec h265 --seconds 4 && plain pattern_h265
check fragmented_h264 h264 100 25/1 --fragmented --seconds 4 && fragmented fragmented_h264 &&
    tone fragmented_h264 8000 1000 -15
check no_audio h264 100 25/1 --no-audio --seconds 4 && silent no_audio
check fragmented_h265 hevc 100 25/1 --fragmented --codec h265 --seconds 4 &&
    fragmented fragmented_h265
check rate_30 h264 120 30/1 --fps 30 --seconds 4
# More than 500 frames: the output opens during the recording, not at close.
check long_h264 h264 600 25/1 --seconds 24 && tone long_h264 8000 1000 -15
check callback_h264 h264 100 25/1 --callback --seconds 4 && fragmented callback_h264 &&
    tone callback_h264 8000 1000 -15

(cd "$work" && "$tool" record --seconds 1 >/dev/null 2>&1) &&
    [ -s "$work/recmux-demo.mp4" ] || fail "without -o: no recmux-demo.mp4 was written"

# Elementary streams made by the ffmpeg CLI.
source_args=(-v error -y -f lavfi -i testsrc2=size=640x360:rate=25 -t 4 -pix_fmt yuv420p -bf 0 -g 25)
ffmpeg "${source_args[@]}" -c:v libx264 "$work/in.h264" &&
    ffmpeg "${source_args[@]}" -c:v libx264 -bsf:v h264_metadata=aud=insert "$work/aud.264" &&
    ffmpeg "${source_args[@]}" -c:v libx265 -x265-params log-level=error "$work/in.hevc" ||
    fail "the ffmpeg CLI could not make the inputs"
check input_h264 h264 100 25/1 -i "$work/in.h264" && same_pictures "$work/in.h264" input_h264 &&
    silent input_h264
check input_aud h264 100 25/1 -i "$work/aud.264" && same_pictures "$work/aud.264" input_aud
check input_hevc hevc 100 25/1 -i "$work/in.hevc" --fragmented &&
    fragmented input_hevc && same_pictures "$work/in.hevc" input_hevc
check input_callback hevc 100 25/1 -i "$work/in.hevc" --callback &&
    same_pictures "$work/in.hevc" input_callback

# Audio made by the ffmpeg CLI: WAVs the tool encodes with each kind of voice
# codec, and headerless G.711 as a device sends it.
sine() { echo "aevalsrc=0.25*sin(2*PI*$1*t):s=$2:d=4"; }
ffmpeg -v error -y -f lavfi -i "$(sine 1000 8000)" -c:a pcm_s16le "$work/tone8k.wav" &&
    ffmpeg -v error -y -f lavfi -i "$(sine 1500 16000)" -c:a pcm_s16le "$work/tone16k.wav" &&
    ffmpeg -v error -y -f lavfi -i "$(sine 1000 8000)" -f alaw "$work/tone.alaw" &&
    ffmpeg -v error -y -f lavfi -i "$(sine 1000 8000)" -f mulaw "$work/tone.mulaw" ||
    fail "the ffmpeg CLI could not make the audio inputs"
# 6, 10 G.711 A-law; 7 mu-law; 3 and 4 G.726 packed from the top bit, 8 and 9
# from the bottom bit; 2 and 16 the two IMA ADPCM layouts.
for code in 6 7 10 2 16 3 4 8 9; do
    check "wav_code_$code" h264 100 25/1 --seconds 4 --audio "$work/tone8k.wav" \
        --audio-type "$code" && tone "wav_code_$code" 8000 1000 -15
done
check wav_16k h264 100 25/1 --seconds 4 --audio "$work/tone16k.wav" --audio-type 7 &&
    tone wav_16k 16000 1500 -15
check wav_16k_fragmented h264 100 25/1 --seconds 4 --fragmented --audio "$work/tone16k.wav" \
    --audio-type 2 && tone wav_16k_fragmented 16000 1500 -15
check device_alaw h264 100 25/1 --seconds 4 --audio "$work/tone.alaw" --audio-type 6 &&
    tone device_alaw 8000 1000 -15
check device_mulaw h264 100 25/1 -i "$work/in.h264" --audio "$work/tone.mulaw" \
    --audio-type 11 &&
    tone device_mulaw 8000 1000 -15

# Captures in containers, recorded with their own timestamps: G.711 sound
# from Matroska and QuickTime, video only from an MPEG-TS whose AAC is left
# out, and a 10 s clock offset that shows as the begin pts.
capture=(-v error -y -f lavfi -i testsrc2=size=640x360:rate=25 -f lavfi -i "$(sine 1000 8000)"
    -t 4 -pix_fmt yuv420p -bf 0 -g 25)
ffmpeg "${capture[@]}" -c:v libx264 -c:a pcm_alaw "$work/cap.mkv" &&
    ffmpeg "${capture[@]}" -c:v libx265 -x265-params log-level=error -c:a pcm_mulaw \
        "$work/cap.mov" &&
    ffmpeg "${capture[@]}" -c:v libx264 -c:a aac -output_ts_offset 10 "$work/cap.ts" ||
    fail "the ffmpeg CLI could not make the captures"
check capture_mkv h264 100 25/1 -i "$work/cap.mkv" && same_pictures "$work/cap.mkv" capture_mkv &&
    tone capture_mkv 8000 1000 -15
check capture_mov hevc 100 25/1 -i "$work/cap.mov" --fragmented && fragmented capture_mov &&
    tone capture_mov 8000 1000 -15
check capture_ts h264 100 25/1 -i "$work/cap.ts" && silent capture_ts &&
    grep -q "^begin pts: 1[01][0-9]\{6\} us$" "$work/capture_ts.log" ||
    fail "capture_ts: the begin pts is not the capture's own: $(grep 'begin pts' "$work/capture_ts.log")"

# The check itself must tell codecs apart: A-law read as mu-law keeps the
# frequency but not the level.
"$tool" record -o "$work/wrong_law.mp4" --seconds 4 --audio "$work/tone.alaw" --audio-type 7 \
    >"$work/wrong_law.log" 2>&1 || fail "wrong_law: recmux exited non-zero"
before=$failures
tone wrong_law 8000 1000 -15 >/dev/null
if [ "$failures" -eq "$before" ]; then
    fail "wrong_law: A-law recorded as mu-law passed the sound check"
else
    failures=$before
    echo "ok: wrong_law fails the sound check"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all recordings check out"
