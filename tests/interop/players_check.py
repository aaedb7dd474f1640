"""Recordings as players see them: GStreamer's discoverer, decoder and seeks,
FFmpeg's decoder, and the boxes that no player shows (tfhd addressing, the
random-access index, btrt, the sample entry). A "continued" recording is two
sessions of half the length each, the first fragmented, so that the second
continues it in place. usage: players_check.py recmux"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import captures  # noqa: E402
import mp4_boxes  # noqa: E402

SECONDS = 6
FPS = 25
DEFAULT_BASE_IS_MOOF = 0x020000
BASE_DATA_OFFSET = 0x000001

# name: (recmux record arguments, fragmented, codec, with sound)
RECORDINGS = {
    "plain": ([], False, "h264", True),
    "plain_silent": (["--no-audio"], False, "h264", False),
    "fragmented": (["--fragmented"], True, "h264", True),
    "fragmented_silent": (["--fragmented", "--no-audio"], True, "h264", False),
    "plain_h265": (["--codec", "h265"], False, "h265", True),
    "fragmented_h265": (["--fragmented", "--codec", "h265"], True, "h265", True),
    "stream_h265": (["--callback", "--codec", "h265", "--no-audio"], True, "h265", False),
    "fragmented_continued": (["--fragmented"], True, "h264", True),
    "plain_continued": ([], False, "h264", True),
    "plain_bframes": (["-i", "bframes.mkv"], False, "h264", True),
    "fragmented_bframes_h265": (["-i", "bframes_h265.mkv", "--fragmented"], True, "h265", True),
}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)
    return condition


def run(command, timeout=60):
    return subprocess.run(command, capture_output=True, text=True, timeout=timeout)


def frame_md5s(path):
    lines = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-f",
                 "framemd5", "-"]).stdout.splitlines()
    return [line.rsplit(",", 1)[1].strip() for line in lines if line and not line.startswith("#")]


def discovered(path):
    """(duration in seconds, number of audio streams) as gst-discoverer sees them."""
    out = run(["gst-discoverer-1.0", path]).stdout
    match = re.search(r"Duration: (\d+):(\d+):([\d.]+)", out)
    if not match:
        return None, None
    h, m, s = match.groups()
    return int(h) * 3600 + int(m) * 60 + float(s), len(re.findall(r"^\s*audio #", out, re.M))


def gst_decodes(path, with_sound):
    pipeline = ["gst-launch-1.0", "-q", "filesrc", "location=" + path, "!", "qtdemux", "name=m",
                "m.video_0", "!", "queue", "!", "decodebin", "!", "fakesink"]
    if with_sound:
        pipeline += ["m.audio_0", "!", "queue", "!", "decodebin", "!", "fakesink"]
    try:
        result = run(pipeline, timeout=30)
    except subprocess.TimeoutExpired:
        return "hangs"
    return "" if result.returncode == 0 else (result.stdout + result.stderr).strip()


def gst_seek(path, with_sound, seconds):
    """(stream time in seconds, MD5) of the picture GStreamer shows after an accurate
    seek: the edit list of a stream with B-frames moves its segment, not the time."""
    description = ("filesrc location=%s ! qtdemux name=m m.video_0 ! queue ! decodebin ! "
                   "videoconvert ! video/x-raw,format=I420 ! appsink name=sink sync=false" % path)
    if with_sound:
        description += " m.audio_0 ! queue ! fakesink sync=false"
    pipeline = Gst.parse_launch(description)
    sink = pipeline.get_by_name("sink")
    try:
        pipeline.set_state(Gst.State.PAUSED)
        pipeline.get_state(10 * Gst.SECOND)
        pipeline.seek_simple(Gst.Format.TIME, Gst.SeekFlags.FLUSH | Gst.SeekFlags.ACCURATE,
                             int(seconds * Gst.SECOND))
        pipeline.get_state(10 * Gst.SECOND)
        sample = sink.emit("try-pull-preroll", 10 * Gst.SECOND)
        if sample is None:
            return None, None
        buffer = sample.get_buffer()
        ok, info = buffer.map(Gst.MapFlags.READ)
        md5 = hashlib.md5(bytes(info.data)).hexdigest() if ok else None
        buffer.unmap(info)
        return sample.get_segment().to_stream_time(Gst.Format.TIME, buffer.pts) / Gst.SECOND, md5
    finally:
        pipeline.set_state(Gst.State.NULL)


def check_boxes(name, path, fragmented, codec, with_sound):
    data = open(path, "rb").read()
    handlers = sorted(mp4_boxes.tracks(data).values())
    check(handlers == (["soun", "vide"] if with_sound else ["vide"]),
          "%s: tracks %s" % (name, handlers))
    entry = mp4_boxes.sample_entries(data)[0]
    check(entry == ("hvc1" if codec == "h265" else "avc1"), "%s: sample entry %s" % (name, entry))
    rates = mp4_boxes.bit_rates(data)
    if fragmented:
        check(entry not in rates, "%s: a fragmented file states a video bit rate %s" %
              (name, rates.get(entry)))
    for kind, stream in ((entry, "v:0"), ("mp4a", "a:0")):
        if kind in rates:
            sizes = run(["ffprobe", "-v", "error", "-select_streams", stream, "-show_entries",
                         "packet=size", "-of", "default=nw=1:nk=1", path]).stdout.split()
            measured = sum(int(size) for size in sizes) * 8 / SECONDS
            check(all(abs(rate - measured) <= 0.25 * measured for rate in rates[kind][1:]),
                  "%s: %s states %s bit/s, the stream has %d" % (name, kind, rates[kind][1:],
                                                              measured))
    if not fragmented or name.startswith("stream"):
        return
    _, fragments = mp4_boxes.media_segments(data)
    flags = {f.tf_flags for f in fragments}
    check(all(f & DEFAULT_BASE_IS_MOOF and not f & BASE_DATA_OFFSET for f in flags),
          "%s: tfhd flags %s" % (name, [hex(f) for f in flags]))
    keys = {f.start for f in fragments if f.key}
    listed = mp4_boxes.random_access_entries(data).get(
        next(t for t, h in mp4_boxes.tracks(data).items() if h == "vide"), [])
    check(len(listed) == SECONDS and set(listed) <= keys,
          "%s: random-access entries %s are not the %d key frames" % (name, listed, SECONDS))


def check_recording(name, path, fragmented, codec, with_sound, reference):
    check_boxes(name, path, fragmented, codec, with_sound)
    duration, audio_streams = discovered(path)
    check(duration is not None and abs(duration - SECONDS) <= 0.1,
          "%s: gst-discoverer reports %s s for %d s" % (name, duration, SECONDS))
    check(audio_streams == (1 if with_sound else 0),
          "%s: gst-discoverer sees %s audio streams" % (name, audio_streams))
    problem = gst_decodes(path, with_sound)
    check(not problem, "%s: gst-launch-1.0 decode: %s" % (name, problem))
    errors = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"]).stderr
    check(not errors.strip(), "%s: ffmpeg decode: %s" % (name, errors.strip()))
    for target in (2.5, 4.3):
        pts, md5 = gst_seek(path, with_sound, target)
        index = int(pts * FPS + 1e-6) if pts is not None else -1
        check(pts is not None and abs(pts - target) <= 1.0 / FPS and
              0 <= index < len(reference) and md5 == reference[index],
              "%s: a seek to %g s shows pts %s, not picture %d of the recording" %
              (name, target, pts, index))


def check_join(name, path, reference):
    data = open(path, "rb").read()
    init, fragments = mp4_boxes.media_segments(data)
    first = next(f.start for f in fragments if f.key and f.seconds >= 3)
    joined = path + ".joined.mp4"
    with open(joined, "wb") as out:
        out.write(data[:init] + data[first:fragments[-1].end])
    errors = run(["ffmpeg", "-nostdin", "-v", "error", "-i", joined, "-f", "null", "-"]).stderr
    check(not errors.strip(), "%s joined at 3 s: ffmpeg decode: %s" % (name, errors.strip()))
    md5s = frame_md5s(joined)
    check(md5s and md5s == reference[-len(md5s):] and len(md5s) == (SECONDS - 3) * FPS,
          "%s joined at 3 s: %d pictures, not the recording's last %d" %
          (name, len(md5s), (SECONDS - 3) * FPS))
    problem = gst_decodes(joined, False)
    check(not problem, "%s joined at 3 s: gst-launch-1.0 decode: %s" % (name, problem))


def main():
    Gst.init(None)
    tool = sys.argv[1]
    work = tempfile.mkdtemp()
    try:
        captures.make(work, SECONDS)
        for name, (arguments, fragmented, codec, with_sound) in RECORDINGS.items():
            path = os.path.join(work, name + ".mp4")
            sessions = [["--fragmented"], arguments] if "continued" in name else [arguments]
            for session in sessions:
                length = ["--seconds", str(SECONDS // len(sessions))]
                if "-i" in session:
                    length, session = [], captures.paths(work, session)
                subprocess.run([tool, "record"] + length + ["-o", path] + session,
                               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            reference = frame_md5s(path)
            if not check(len(reference) == SECONDS * FPS, "%s: %d pictures decoded" %
                         (name, len(reference))):
                continue
            if name.startswith("stream"):
                check_boxes(name, path, fragmented, codec, with_sound)
                check_join(name, path, reference)
            else:
                check_recording(name, path, fragmented, codec, with_sound, reference)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("every recording plays, seeks and joins in GStreamer and FFmpeg")
    return 0


if __name__ == "__main__":
    sys.exit(main())
