#!/usr/bin/env bash
# `recmux` refuses bad arguments with status 2 and failed recordings and reads
# with status 1, and leaves no file behind when it recorded nothing.
# usage: arguments_check.sh path/to/recmux
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

# expect STATUS TEXT ARGS...: recmux exits with STATUS and says TEXT.
expect() {
    local status=$1 text=$2
    shift 2
    local output actual
    output=$("$tool" "$@" 2>&1)
    actual=$?
    if [ "$actual" -ne "$status" ] || ! grep -qF -- "$text" <<<"$output"; then
        echo "FAIL: recmux $* gave status $actual, expected $status with '$text':"
        sed 's/^/    /' <<<"$output"
        failures=$((failures + 1))
    fi
}

expect 2 "the commands are record, info and extract"
expect 2 "the commands are record, info and extract" play
expect 0 "usage: recmux record" --help
expect 0 "recmux extract in.mp4 -o" --help
expect 2 "info takes one MP4 file" info
expect 2 "info takes one MP4 file" info a.mp4 b.mp4
expect 2 "extract takes an MP4 file and -o OUTPUT" extract a.mp4
expect 2 "extract takes an MP4 file and -o OUTPUT" extract a.mp4 out.h264
expect 2 "extract ends in .h264" extract a.mp4 -o out.mp4
expect 2 "unknown option: --loud" record --loud yes
expect 2 "missing value: -o" record -o
expect 2 "--fps takes a whole number" record --fps 0
expect 2 "--fps takes a whole number" record --fps 2.5
expect 2 "--fps takes a whole number" record --fps 25x
expect 2 "--seconds takes a number" record --seconds -1
expect 2 "--codec takes h264 or h265" record --codec vp9
expect 2 "give --codec" record -i camera.bin
expect 2 "--seconds applies to the test pattern only" record -i camera.h264 --seconds 3
expect 2 "--audio needs --audio-type" record --audio tone.wav
expect 2 "describe an --audio file" record --audio-type 6
expect 2 "describe an --audio file" record --audio-rate 16000
expect 2 "--audio-type takes a code from 0 to 11, or 16" record --audio a.wav --audio-type 12
expect 2 "--audio-type takes a code from 0 to 11, or 16" record --audio a.wav --audio-type 6.5
expect 2 "--audio-rate takes a whole number" record --audio a.raw --audio-type 6 --audio-rate 10
expect 2 "exclude each other" record --audio a.wav --audio-type 6 --no-audio
expect 2 "--audio-start takes a number" record --audio-start -1
expect 2 "exclude each other" record --audio-start 2 --no-audio

expect 1 "cannot read missing.h264" record -i missing.h264
expect 1 "cannot read missing.wav" record --seconds 0.2 -o nowav.mp4 --audio missing.wav \
    --audio-type 6
printf 'RIFF\377\377\377\377WAVEfmt ' >lying.wav
expect 1 "lying.wav is not a usable WAV: its RIFF size" record --seconds 0.2 -o lying.mp4 \
    --audio lying.wav --audio-type 6
expect 1 "the name must end in .mp4" record --seconds 0.2 -o out.avi
: >empty.h264
expect 1 "frames passed: 0, accepted: 0" record -i empty.h264 -o empty.mp4
expect 1 "no file was written" record -i empty.h264 -o empty.mp4 --fragmented
# Bytes without a start code hold no access unit the recorder would take.
head -c 4096 /dev/zero >zeros.265
expect 1 "accepted: 0" record -i zeros.265 -o zeros.mp4
expect 1 "missing.mp4 is not an MP4" info missing.mp4
echo "plain text" >text.mp4
expect 1 "text.mp4 is not an MP4" extract text.mp4 -o text.h264
for name in out.avi empty.mp4 zeros.mp4 text.h264 nowav.mp4 lying.mp4; do
    if [ -e "$name" ]; then
        echo "FAIL: $name was left behind"
        failures=$((failures + 1))
    fi
done

[ "$failures" -eq 0 ] || exit 1
echo "all argument checks pass"
