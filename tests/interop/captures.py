"""Captures with B-frames and A-law sound, as `ffmpeg -c copy` keeps a camera's
stream: made by the ffmpeg CLI at 25 fps with a key frame each second."""
import os
import subprocess

ENCODERS = {
    "bframes.mkv": ["-c:v", "libx264", "-bf", "2", "-sc_threshold", "0"],
    "bframes_h265.mkv": ["-c:v", "libx265", "-x265-params", "log-level=error:bframes=3:scenecut=0"],
}


def make(work, seconds):
    for name, encoder in ENCODERS.items():
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25",
                        "-f", "lavfi", "-i", "sine=f=1000:r=8000", "-t", str(seconds), "-pix_fmt", "yuv420p",
                        "-g", "25"] + encoder + ["-c:a", "pcm_alaw", os.path.join(work, name)], check=True)


def paths(work, arguments):
    """recmux arguments with each capture's name standing for its path in work."""
    return [os.path.join(work, a) if a in ENCODERS else a for a in arguments]
