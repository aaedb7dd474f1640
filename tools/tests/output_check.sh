#!/usr/bin/env bash
# What `recmux record` does to the file it records into: a rerun continues it and says
# how long it now is, --overwrite replaces it only with a complete recording, and
# Ctrl-C or SIGTERM during a live recording finishes it, playable, and then ends the
# tool by that signal.
# usage: output_check.sh path/to/recmux
set -uo pipefail
# Without job control a script's background jobs ignore Ctrl-C.
set -m
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*" && failures=$((failures + 1)) && return 1; }
probe() { ffprobe </dev/null -v error -select_streams v:0 -show_entries "stream=$2" -of csv=p=0 "$1"; }
within() { awk -v x="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(x >= lo && x <= hi) }'; }
# playable FILE LOW HIGH: FILE decodes cleanly and lasts LOW to HIGH seconds.
playable() {
    local length errors
    length=$(probe "$1" duration)
    within "${length:-0}" "$2" "$3" || fail "$1 lasts '$length' s, not $2 to $3"
    errors=$(ffmpeg -nostdin -v error -i "$1" -f null - 2>&1)
    [ -z "$errors" ] || fail "$1 does not decode cleanly: $errors"
}
left_behind() { ls ./*.tmp ./*.new-* 2>/dev/null; }

head -c 4096 /dev/zero >zeros.265
"$tool" record --seconds 2 -o rec.mp4 >/dev/null || fail "no rec.mp4"
# STATUS|SAYS|LOW HIGH|ARGS: run one after the other on rec.mp4, each leaving it LOW to HIGH s long.
while IFS='|' read -r status says range args; do
    # shellcheck disable=SC2086 # the range and the arguments are words
    output=$("$tool" record -o rec.mp4 $args 2>&1)
    actual=$?
    [ "$actual" -eq "$status" ] && grep -qF -- "$says" <<<"$output" ||
        fail "record $args gave status $actual, expected $status and '$says': $output"
    # shellcheck disable=SC2086
    playable rec.mp4 $range
    [ -z "$(left_behind)" ] || fail "record $args left $(left_behind)"
done <<'TABLE'
0|rec.mp4 holds a recording of 2.0 s|2.9 3.1|--seconds 1
0|rec.mp4: 1.0 s added, now 4.0 s|3.9 4.1|--seconds 1
1|rec.mp4: stays as it was, 4.0 s|3.9 4.1|-i zeros.265 --overwrite
0|rec.mp4 is replaced once the new recording is complete|0.9 1.1|--seconds 1 --overwrite --codec h265
TABLE

# stop_live NAME FORMAT SIGNAL [ARGS...]: recmux records a pipe fed at real time into
# NAME.mp4 until SIGNAL comes after 3 s; its status in stopped.
stop_live() {
    local name=$1 format=$2 signal=$3 feed pid
    shift 3
    mkfifo "$name.pipe"
    ffmpeg -nostdin -v quiet -re -f lavfi -i testsrc2=size=640x360:rate=25 -t 20 -c:v libx264 -bf 0 -g 25 \
        -pix_fmt yuv420p -f "$format" -y "$name.pipe" &
    feed=$!
    "$tool" record -i "$name.pipe" -o "$name.mp4" "$@" >"$name.log" 2>&1 &
    pid=$!
    sleep 3
    kill -s "$signal" "$pid"
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -s KILL "$pid" 2>/dev/null && fail "$name: still recording 10 s after SIG$signal"
    wait "$pid"
    stopped=$?
    kill "$feed" 2>/dev/null
    wait "$feed"
    rm "$name.pipe"
}

# NAME FORMAT SIGNAL STATUS [ARGS...]: stopped, recmux says so and ends with STATUS, and
# NAME.mp4 plays the feed's H.264 for the time it recorded (rec.mp4 was H.265 before).
while read -r name format signal status args; do
    # shellcheck disable=SC2086
    stop_live "$name" "$format" "$signal" $args
    [ "$stopped" -eq "$status" ] && grep -q "^stopped by" "$name.log" ||
        fail "$name: status $stopped after SIG$signal, expected $status: $(cat "$name.log")"
    playable "$name.mp4" 0.4 3.5
    [ "$(probe "$name.mp4" codec_name)" = h264 ] || fail "$name: not the feed's recording"
    [ -z "$(left_behind)" ] || fail "$name: left $(left_behind)"
done <<'TABLE'
annexb h264 INT 130 --codec h264
capture mpegts TERM 143
rec h264 INT 130 --codec h264 --overwrite
TABLE

# A recording cut off hard leaves its working file; the next run takes it back and says so.
stop_live cut h264 KILL --codec h264
[ -e cut.mp4.tmp ] || fail "cut: no working file left by SIGKILL"
output=$("$tool" record --seconds 1 -o cut.mp4 2>&1)
grep -q "cut.mp4.tmp, left by a recording that was cut off, holds" <<<"$output" ||
    fail "cut: the working file was not taken back: $output"

[ "$failures" -eq 0 ] || exit 1
echo "all output checks pass"
