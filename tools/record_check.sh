#!/usr/bin/env bash
# End to end: recordings made by `recmux record` read back with ffprobe and ffmpeg as
# exactly the frames that went in and their sound as the tone; `recmux voice` gives
# the tone back through every kind of voice codec.
# usage: record_check.sh path/to/recmux path/to/recmux_tone_probe
set -uo pipefail
tool=$1
tone_probe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*" && failures=$((failures + 1)) && return 1; }
md5s() { ffmpeg -v error -i "$1" -map 0:v:0 -f framemd5 - 2>/dev/null | awk -F', *' '!/^#/ { print $NF }'; }
same_pictures() { [ -n "$(md5s "$1")" ] && [ "$(md5s "$1")" = "$(md5s "$2.mp4")" ] || fail "$2: pictures differ from $1"; }
fragmented() { grep -qa moof "$1.mp4" || fail "$1: no moof box, so not fragmented"; }
plain() { ! grep -qa moof "$1.mp4" || fail "$1: has moof boxes, expected a plain MP4"; }
silent() { [ -z "$(ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 "$1.mp4")" ] ||
    fail "$1: has an audio stream, expected none"; }

# check NAME CODEC FRAMES RATE [recmux arguments...]: the tool accepts FRAMES frames and
# the file holds them as CODEC 640x360 at RATE, decoding cleanly.
check() {
    local name=$1 codec=$2 frames=$3 rate=$4 probe
    shift 4
    "$tool" record -o "$name.mp4" "$@" >"$name.log" 2>&1 || fail "$name: recmux exited non-zero: $(cat "$name.log")" ||
        return 1
    grep -q "^$name.mp4: [0-9.]* s, $frames video frames" "$name.log" || fail "$name: does not say $frames frames"
    probe=$(ffprobe -v error -count_frames -select_streams v:0 -of csv=p=0 \
        -show_entries stream=codec_name,width,height,r_frame_rate,nb_read_frames "$name.mp4")
    [ "$probe" = "$codec,640,360,$rate,$frames" ] || fail "$name: ffprobe reads '$probe'"
    [ -z "$(ffmpeg -v error -i "$name.mp4" -f null - 2>&1)" ] || fail "$name: does not decode cleanly"
}

# sound FILE RATE HZ: the middle second of FILE's audio, taken at RATE, is a tone of HZ
# (nearly all its energy in that bin) at -15 dBFS RMS within 2 dB; a wrong codec,
# packing or rate gives noise, a wrong level or another frequency.
sound() {
    local measured
    measured=$(ffmpeg -v error -i "$1" -map 0:a -f s16le -ac 1 -ar "$2" - | "$tone_probe" "$2")
    awk -v m="$measured" -v hz="$3" 'BEGIN { split(m, x, " "); exit !(x[1] == hz && x[2] >= 0.95 &&
        x[3] > -17 && x[3] < -13) }' || fail "$1: the sound measures '$measured' (Hz, share, dBFS)"
}

# tone NAME RATE HZ: one AAC mono stream at RATE, ending with the video, holding the tone.
tone() {
    local probe ends
    probe=$(ffprobe -v error -select_streams a -of csv=p=0 -show_entries stream=codec_name,channels,sample_rate "$1.mp4")
    [ "$probe" = "aac,$2,1" ] || fail "$1: audio streams '$probe'"
    # The encoder's priming may lie before 0, hidden by an edit list.
    ends=$(ffprobe -v error -of csv=p=0 -show_entries stream=start_time,duration "$1.mp4" |
        awk -F, '{ printf "%.3f ", $1 + $2 }')
    awk -v d="$ends" 'BEGIN { split(d, x, " "); exit !(x[2] - x[1] < 0.2 && x[1] - x[2] < 0.2) }' ||
        fail "$1: video and audio end at $ends"
    sound "$1.mp4" "$2" "$3"
}

# The built-in test pattern and its tone; past 500 frames the output opens during the
# recording, not at close.
check default h264 250 25/1 && plain default && tone default 8000 1000
check pattern_h265 hevc 100 25/1 --codec h265 --fragmented --seconds 4 && fragmented pattern_h265
check no_audio h264 120 30/1 --no-audio --fps 30 --seconds 4 && silent no_audio
check half_rate h264 50 25/2 --no-audio --fps 12.5 --seconds 4
check ntsc h264 120 30000/1001 --no-audio --fps 30000/1001 --seconds 4
check long h264 600 25/1 --seconds 24 && tone long 8000 1000
check callback h264 100 25/1 --callback --seconds 4 && fragmented callback && tone callback 8000 1000
"$tool" record --seconds 1 >/dev/null 2>&1 && [ -s recmux-demo.mp4 ] || fail "without -o: no recmux-demo.mp4"

# Elementary streams and audio made by the ffmpeg CLI, the G.711 headerless as a device
# sends it.
pattern=(-v error -y -f lavfi -i testsrc2=size=640x360:rate=25)
video=(-t 4 -pix_fmt yuv420p -bf 0 -g 25)
source_args=("${pattern[@]}" "${video[@]}")
sine() { echo "aevalsrc=0.25*sin(2*PI*$1*t):s=$2:d=4"; }
ffmpeg "${source_args[@]}" -c:v libx264 in.h264 &&
    ffmpeg "${source_args[@]}" -c:v libx264 -bsf:v h264_metadata=aud=insert aud.264 &&
    ffmpeg "${source_args[@]}" -c:v libx265 -x265-params log-level=error in.hevc &&
    ffmpeg -v error -y -f lavfi -i "$(sine 1000 8000)" -c:a pcm_s16le tone8k.wav &&
    ffmpeg -v error -y -f lavfi -i "$(sine 1500 16000)" -c:a pcm_s16le tone16k.wav &&
    ffmpeg -v error -y -f lavfi -i "$(sine 1000 8000)" -f alaw tone.alaw &&
    ffmpeg -v error -y -f lavfi -i "$(sine 1000 8000)" -f mulaw tone.mulaw || fail "the ffmpeg CLI made no inputs"
check input_h264 h264 100 25/1 -i in.h264 --audio tone.mulaw --audio-type 11 && same_pictures in.h264 input_h264 &&
    tone input_h264 8000 1000
check input_aud h264 100 25/1 -i aud.264 && same_pictures aud.264 input_aud && silent input_aud
check input_hevc hevc 100 25/1 -i in.hevc --callback && same_pictures in.hevc input_hevc
# 6, 10 G.711 A-law; 7 mu-law; 3 and 4 G.726 packed from the top bit, 8 and 9 from the
# bottom bit; 2 and 16 the two IMA ADPCM layouts.
for code in 6 7 10 2 16 3 4 8 9; do
    check "wav_$code" h264 50 25/1 --seconds 2 --audio tone8k.wav --audio-type "$code" && tone "wav_$code" 8000 1000
done
check wav_16k h264 50 25/1 --seconds 2 --fragmented --audio tone16k.wav --audio-type 2 && tone wav_16k 16000 1500

# Captures recorded with their own timestamps: G.711 from Matroska and QuickTime, video
# only from an MPEG-TS whose AAC is left out with a warning, and its 10 s offset shown.
capture=("${pattern[@]}" -f lavfi -i "$(sine 1000 8000)" "${video[@]}")
ffmpeg "${capture[@]}" -c:v libx264 -c:a pcm_alaw cap.mkv &&
    ffmpeg "${capture[@]}" -c:v libx265 -x265-params log-level=error -c:a pcm_mulaw cap.mov &&
    ffmpeg "${capture[@]}" -c:v libx264 -c:a aac -output_ts_offset 10 cap.ts || fail "the ffmpeg CLI made no captures"
check capture_mkv h264 100 25/1 -i cap.mkv && same_pictures cap.mkv capture_mkv && tone capture_mkv 8000 1000
check capture_mov hevc 100 25/1 -i cap.mov --fragmented && fragmented capture_mov && tone capture_mov 8000 1000
check capture_ts h264 100 25/1 -i cap.ts && silent capture_ts &&
    { grep -q "^taken from the capture's clock: 1[01]\.[0-9]* s to" capture_ts.log &&
        grep -q "^recmux: cap.ts: warning: its sound (aac, mono) is not mono G.711" capture_ts.log ||
        fail "capture_ts: not its own times, or no warning for its AAC"; }
# B-frames: kept in decode order, shown in the capture's order and time, a second
# session copied behind the first.
bframes=("${pattern[@]}" -f lavfi -i "$(sine 1000 8000)" -t 4 -pix_fmt yuv420p -g 25 -c:a pcm_alaw)
ffmpeg "${bframes[@]}" -c:v libx264 -bf 2 bframes.mkv &&
    ffmpeg "${bframes[@]}" -c:v libx265 -x265-params log-level=error:bframes=3 bframes.mov ||
    fail "the ffmpeg CLI made no captures with B-frames"
check bframes h264 100 25/1 -i bframes.mkv && same_pictures bframes.mkv bframes && tone bframes 8000 1000 &&
    { grep -q "^bframes.mp4: 4.0 s," bframes.log || fail "bframes: not 4.0 s"; }
check bframes_hevc hevc 100 25/1 -i bframes.mov --fragmented && same_pictures bframes.mov bframes_hevc
ffmpeg -v error -y -i bframes.mkv -map 0:v -c copy bframes.h264 &&
    "$tool" record -i bframes.h264 -o bframes_es.mp4 2>&1 >/dev/null | grep -q "^recmux: bframes.h264: warning: it has B-frames" &&
    ! "$tool" record -i in.h264 -o no_bframes_es.mp4 2>&1 >/dev/null | grep -q "B-frames" ||
    fail "bframes_es: an elementary stream with B-frames is recorded without a warning, or one without is warned of"
"$tool" record -i bframes.mov -o bframes_hevc.mp4 --fragmented 2>&1 | grep -q "now 8.0 s, 200 video frames" &&
    [ -z "$(ffmpeg -v error -i bframes_hevc.mp4 -f null - 2>&1)" ] ||
    fail "bframes_hevc: a second session is not 200 frames to 8.0 s that decode cleanly"

# FFmpeg reads G.711 in MPEG-TS as nameless data: said, not dropped silently.
ffmpeg "${capture[@]}" -c:v libx264 -c:a pcm_alaw alaw.ts &&
    "$tool" record -i alaw.ts -o alaw_ts.mp4 2>&1 >/dev/null | grep -q "^recmux: alaw.ts: warning: it holds data" ||
    fail "alaw_ts: no warning that its sound is left out"

# The sound check must tell codecs apart: A-law read as mu-law keeps the frequency, not
# the level.
"$tool" record -o wrong_law.mp4 --seconds 4 --audio tone.alaw --audio-type 7 >/dev/null 2>&1 &&
    ! (failures=0 && sound wrong_law.mp4 8000 1000 >/dev/null) || fail "wrong_law: passed the sound check"

# `recmux voice`: every kind of codec and packing there and back, and the transcoded
# frames decode as their target.
voice() { "$tool" voice "$@" >/dev/null || fail "voice $* failed"; }
for codec in 1 2 65 7 38 5 36 3 35 67 68; do
    voice encode tone8k.wav "v$codec" --codec "$codec" && voice decode "v$codec" "v$codec.wav" --codec "$codec" &&
        sound "v$codec.wav" 8000 1000
done
voice transcode v65 t97 --mode 97 && voice decode t97 t97.wav --codec 1 &&
    { cmp -s t97.wav v65.wav || fail "mode 97 does not give the frames of identifier 1"; }
voice transcode v67 t99 --mode 99 && voice decode t99 t99.wav --codec 3 && sound t99.wav 8000 1000

[ "$failures" -eq 0 ] || exit 1
echo "all recordings check out"
