"""Live view in a browser: streams from the write callback play in headless
Chromium through Media Source Extensions, appended fragment by fragment from
the start, and joined a few seconds in at a fragment that starts with a key
frame. So does a fragmented file continued in place by a second recording,
across the join and joined after it. usage: mse_check.py path/to/recmux"""
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import mp4_boxes  # noqa: E402

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync",
                  "--autoplay-policy=no-user-gesture-required"]

# (stream, recmux record arguments): H.264 only, headless Chromium has no HEVC.
STREAMS = {
    "sound.mp4": ["--seconds", "8"],
    "silent.mp4": ["--seconds", "8", "--no-audio"],
    "late_sound.mp4": ["--seconds", "30", "--audio-start", "25"],
    "continued.mp4": ["--seconds", "4", "--fragmented"],
}
CONTINUED = "continued.mp4"
# (stream, join after seconds): 0 plays from the start.
PLAN = [(name, join) for name in STREAMS for join in ((0, 5) if name == CONTINUED else (0, 3))]


def record(tool, work):
    for name, arguments in STREAMS.items():
        sessions, output = (2, []) if name == CONTINUED else (1, ["--callback"])
        for _ in range(sessions):
            subprocess.run([tool, "record"] + output + ["-o", os.path.join(work, name)] + arguments,
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def plan_item(work, name, join):
    """What the page appends: the init segment, then the fragments from the first
    one that starts with a key frame at or after join seconds."""
    data = open(os.path.join(work, name), "rb").read()
    init, fragments = mp4_boxes.media_segments(data)
    first = next(i for i, f in enumerate(fragments) if f.key and f.seconds >= join)
    return {"stream": name, "mime": 'video/mp4; codecs="%s"' % ", ".join(mp4_boxes.mse_codecs(data)),
            "segments": [[0, init]] + [[f.start, f.end] for f in fragments[first:]]}


def serve(work, results):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=work, **kwargs)

        def do_POST(self):
            body = self.rfile.read(int(self.headers["Content-Length"]))
            self.send_response(204)
            self.end_headers()
            results.append(json.loads(body))
            done.set()

        def log_message(self, *args):
            pass

    done = threading.Event()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, done


def run_chromium(url, profile):
    return subprocess.Popen(["chromium"] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile, url],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)


def judge(result, join, has_sound):
    name = "%s joined at %g s" % (result.get("name"), join) if join else result.get("name")
    problems = []
    if "error" in result or "mediaError" in result:
        problems.append("%s %s" % (result.get("error", ""), result.get("mediaError", "")))
    else:
        if result["advanced"] < 1.0:
            problems.append("playback advanced only %.2f s" % result["advanced"])
        if has_sound and not result["audioBytes"]:
            problems.append("no sound was decoded")
        start = result["buffered"][0][0]
        # Silence standing in for late sound trails the picture by up to half a second.
        if join and not join - 0.6 <= start < join + 1.5:
            problems.append("buffered from %.2f s, expected the key frame after %g s" % (start, join))
        if not join and start > 0.1:
            problems.append("buffered from %.2f s, expected the start" % start)
        if len(result["buffered"]) != 1:
            problems.append("buffered in pieces: %s" % result["buffered"])
    print("%s: %s: %s" % ("FAIL" if problems else "ok", name, "; ".join(problems) or result))
    return not problems


def main():
    tool = sys.argv[1]
    work = tempfile.mkdtemp()
    browser = None
    server = None
    try:
        record(tool, work)
        shutil.copy(os.path.join(HERE, "mse_page.html"), work)
        with open(os.path.join(work, "plan.json"), "w") as plan:
            json.dump([plan_item(work, name, join) for name, join in PLAN], plan)
        results = []
        server, done = serve(work, results)
        url = "http://127.0.0.1:%d/mse_page.html" % server.server_address[1]
        browser = run_chromium(url, os.path.join(work, "profile"))
        if not done.wait(120):
            print("FAIL: the page reported nothing within 120 s")
            return 1
        passed = [judge(result, join, name != "silent.mp4")
                  for result, (name, join) in zip(results[0], PLAN)]
        if len(results[0]) != len(PLAN) or not all(passed):
            return 1
        print("all streams play through Media Source Extensions")
        return 0
    finally:
        if browser:
            os.killpg(browser.pid, signal.SIGTERM)
            browser.wait()
        if server:
            server.shutdown()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
