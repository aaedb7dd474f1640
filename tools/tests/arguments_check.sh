#!/usr/bin/env bash
# `recmux` refuses bad arguments with status 2 and failed recordings, reads and
# conversions with status 1, says why in one line on stderr that names the file
# and the system's reason, and leaves no file behind when it wrote nothing.
# usage: arguments_check.sh path/to/recmux
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
runner=()  # what runs the tool: nothing, another user, or a namespace with a full disk

# expect STATUS TEXT ARGS...: recmux exits with STATUS and says TEXT; a failure is
# one line on stderr.
expect() {
    local status=$1 text=$2 output actual lines
    shift 2
    output=$("${runner[@]}" "$tool" "$@" 2>stderr)
    actual=$?
    lines=$(wc -l <stderr)
    output+=$(cat stderr)
    if [ "$actual" -ne "$status" ] || ! grep -qF -- "$text" <<<"$output" ||
        { [ "$status" -ne 0 ] && [ "$lines" -ne 1 ]; }; then
        echo "FAIL: recmux $* gave status $actual, $lines stderr lines; expected $status, '$text':"
        sed 's/^/    /' <<<"$output"
        failures=$((failures + 1))
    fi
}

expect 2 "the commands are record, info, extract and voice" play
expect 0 "recmux record [-i INPUT]" --help
expect 0 "recmux voice transcode IN OUT --mode MODE" --help
expect 0 "voice codec" --version
for command in record info extract voice; do
    expect 0 "recmux $command " "$command" --help
done
expect 0 "--overwrite" record -h
expect 2 "info takes one MP4 file" info a.mp4 b.mp4
expect 2 "extract takes an MP4 file and perhaps -o OUTPUT" extract a.mp4 out.h264
expect 2 "extract ends in .h264" extract a.mp4 -o out.mp4
expect 2 "unknown option: --loud" record --loud yes
expect 2 "missing value: -o" record -o
expect 2 "-o takes a name ending in .mp4: out.avi" record --seconds 0.2 -o out.avi
expect 2 "--fps takes a rate from 1 to 1000" record --fps 0.5
expect 2 "--fps takes a rate from 1 to 1000" record --fps 30000/0
expect 2 "--seconds takes a number" record --seconds -1
expect 2 "--codec takes h264 or h265" record --codec vp9
expect 2 "--fps does not apply to a capture" record -i camera.ts --fps 30
expect 2 "--seconds applies to the test pattern only" record -i camera.h264 --seconds 3
expect 2 "--audio needs --audio-type" record --audio tone.wav
expect 2 "describe an --audio file" record --audio-rate 16000
expect 2 "--audio-type takes a code from 0 to 11, or 16" record --audio a.wav --audio-type 12
expect 2 "--audio-rate takes a whole number" record --audio a.raw --audio-type 6 --audio-rate 10
expect 2 "exclude each other" record --audio-start 2 --no-audio
expect 2 "the voice commands are encode, decode and transcode" voice play in out
expect 2 "encode takes --codec ID" voice encode in.wav out
expect 2 "bad value for --mode: 96" voice transcode in out --mode 96
expect 2 "--rate applies to decode" voice encode in.wav out --codec 1 --rate 16000

# Inputs and outputs that cannot be had: found before anything is encoded.
echo "plain text" >text.mp4
echo "plain text" >text.ts
mkdir folder.mp4
mkfifo pipe.mp4
"$tool" record --seconds 0.2 -o rec.mp4 >/dev/null || echo "FAIL: no rec.mp4 to work on"
expect 1 "missing.h264: No such file or directory" record -i missing.h264
expect 1 "missing.ts: No such file or directory" record -i missing.ts
expect 1 "missing.wav: No such file or directory" record --audio missing.wav --audio-type 6
expect 1 "missing.mp4: No such file or directory" info missing.mp4
expect 1 "missing.mp4: No such file or directory" extract missing.mp4
expect 1 "/nonexistent/x.mp4: No such file or directory" record --seconds 0.2 -o /nonexistent/x.mp4
expect 1 "text.ts/x.mp4: Not a directory" record --seconds 0.2 -o text.ts/x.mp4
expect 1 "folder.mp4: Is a directory" record --seconds 0.2 -o folder.mp4
expect 1 "folder.mp4: Is a directory" info folder.mp4
expect 1 "pipe.mp4: not a regular file" record --seconds 0.2 -o pipe.mp4
expect 1 "text.mp4: exists and is not a recording (--overwrite replaces it)" record --seconds 0.2 -o text.mp4
expect 1 "rec.mp4: exists, and --callback always records afresh" record --seconds 0.2 -o rec.mp4 --callback
expect 1 "text.mp4: not an MP4 with H.264, H.265 or MPEG-4 video" extract text.mp4 -o text.h264
expect 1 "x.hevc: rec.mp4 holds H.264 video: the name must end in .h264 or .264" extract rec.mp4 -o x.hevc
expect 1 "text.ts: neither an Annex B stream nor a container" record -i text.ts -o text_ts.mp4
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=160x120:rate=10 -t 1 -c:v mjpeg mjpeg.mkv
expect 1 "mjpeg.mkv: no H.264 or H.265 video in it" record -i mjpeg.mkv -o mjpeg.mp4
printf 'RIFF\377\377\377\377WAVEfmt ' >lying.wav
expect 1 "lying.wav: not a usable WAV: its RIFF size" record --seconds 0.2 -o lying.mp4 \
    --audio lying.wav --audio-type 6
: >empty.h264
expect 1 "empty.h264: no key frame the recorder could read: nothing recorded" record -i empty.h264 -o empty.mp4
expect 1 "empty.h264: no key frame" record -i empty.h264 -o empty.mp4 --fragmented
# Bytes without a start code hold no access unit the recorder would take.
head -c 4096 /dev/zero >zeros.265
expect 1 "zeros.265: no key frame" record -i zeros.265 -o zeros.mp4

# Root passes every permission check: the folder closed to the user is tried as nobody.
mkdir closed && chmod 500 closed
[ "$(id -u)" -eq 0 ] && runner=(setpriv --reuid=65534 --regid=65534 --clear-groups)
expect 1 "closed/x.mp4: Permission denied" record --seconds 0.2 -o closed/x.mp4
runner=()

# A disk that fills up stops the recording at once; what reached it is kept.
mkdir full
printf '#!/bin/sh\nmount -t tmpfs -o size=256k tmpfs full && exec "$@"\n' >small_disk && chmod +x small_disk
if unshare -m ./small_disk true 2>/dev/null; then
    runner=(unshare -m ./small_disk)
    expect 1 "full/rec.mp4: No space left on device" record --seconds 60 -o full/rec.mp4
    expect 1 "full/rec.mp4: No space left on device" record --seconds 60 -o full/rec.mp4 --callback
    runner=()
else
    echo "skipped: the full disk (no mount namespace here)"
fi

ffmpeg -nostdin -v error -y -f lavfi -i anullsrc=r=8000:cl=mono -t 0.1 -c:a pcm_s16le quiet.wav
expect 1 "missing.wav: No such file or directory" voice encode missing.wav out --codec 1
expect 1 "/nonexistent/out: No such file or directory" voice encode quiet.wav /nonexistent/out --codec 1
expect 1 "has no encoder for identifier 8" voice encode quiet.wav out --codec 8
expect 1 "does not encode frames of 100 samples" voice encode quiet.wav out --codec 3 --samples 100
"$tool" voice encode quiet.wav frames --codec 1 >/dev/null && head -c -1 frames >cut.frames
expect 1 "does not start a whole voice frame" voice decode cut.frames out.wav --codec 1
expect 1 "does not start a whole voice frame" voice transcode cut.frames out --mode 97
for name in out.avi empty.mp4 zeros.mp4 text.h264 x.hevc lying.mp4 text_ts.mp4 mjpeg.mp4 out out.wav \
    rec.mp4.tmp folder.mp4.tmp pipe.mp4.tmp text.mp4.tmp closed/x.mp4.tmp; do
    [ -e "$name" ] && echo "FAIL: $name was left behind" && failures=$((failures + 1))
done
cmp -s text.mp4 <(echo "plain text") || { echo "FAIL: text.mp4 was touched" && failures=$((failures + 1)); }

[ "$failures" -eq 0 ] || exit 1
echo "all argument checks pass"
