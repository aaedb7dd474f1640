"""Live view in a browser: streams from the write callback play in headless
Chromium and Firefox through Media Source Extensions, appended fragment by
fragment from the start, and joined a few seconds in at a fragment that starts
with a key frame, each from there to its end: the test pattern, and captures
with B-frames recorded with their own timestamps. So does a fragmented file
continued in place by a second recording, across the join and joined after it.
usage: mse_check.py path/to/recmux"""
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
import captures  # noqa: E402
import mp4_boxes  # noqa: E402

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync",
                  "--autoplay-policy=no-user-gesture-required"]

FIREFOX_PREFS = {"media.autoplay.default": 0, "media.autoplay.blocking_policy": 0,
                 "browser.shell.checkDefaultBrowser": False, "app.update.disabledForTesting": True,
                 "datareporting.policy.dataSubmissionEnabled": False,
                 "toolkit.telemetry.reportingpolicy.firstRun": False}

# (stream, recmux record arguments); a capture's name stands for its path.
STREAMS = {
    "sound.mp4": ["--seconds", "8"],
    "sound_h265.mp4": ["--seconds", "8", "--codec", "h265"],
    "silent.mp4": ["--seconds", "8", "--no-audio"],
    "late_sound.mp4": ["--seconds", "30", "--audio-start", "25"],
    "continued.mp4": ["--seconds", "4", "--fragmented"],
    "bframes.mp4": ["-i", "bframes.mkv"],
    "bframes_h265.mp4": ["-i", "bframes_h265.mkv"],
}
CONTINUED = "continued.mp4"
# Headless Chromium has no HEVC.
BROWSER_STREAMS = {"chromium": [name for name in STREAMS if "h265" not in name], "firefox": list(STREAMS)}


def plan(browser):
    """(stream, join after seconds) for the browser: 0 plays from the start."""
    return [(name, join) for name in BROWSER_STREAMS[browser]
            for join in ((0, 5) if name == CONTINUED else (0, 3))]


def record(tool, work):
    captures.make(work, 8)
    for name, arguments in STREAMS.items():
        arguments = captures.paths(work, arguments)
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


def serve(work, results, done):
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

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def start_browser(browser, url, profile):
    if browser == "chromium":
        command = ["chromium"] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile, url]
    else:
        os.makedirs(profile)
        with open(os.path.join(profile, "user.js"), "w") as prefs:
            prefs.writelines('user_pref("%s", %s);\n' % (k, json.dumps(v)) for k, v in FIREFOX_PREFS.items())
        command = ["firefox-esr", "--headless", "--no-remote", "--profile", profile, url]
    return subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)


def judge(browser, result, join, has_sound):
    name = "%s: %s" % (browser, result.get("name"))
    name += " joined at %g s" % join if join else ""
    problems = []
    if "error" in result or "mediaError" in result:
        problems.append("%s %s" % (result.get("error", ""), result.get("mediaError", "")))
    else:
        if result["advanced"] < 1.0:
            problems.append("playback advanced only %.2f s" % result["advanced"])
        if has_sound and not result["audioBytes"]:
            problems.append("no sound was decoded")
        if not result["ended"]:
            problems.append("did not play to its end")
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


def play_in(browser, work):
    """Whether every planned stream plays in the browser."""
    with open(os.path.join(work, "plan-%s.json" % browser), "w") as planned:
        json.dump([plan_item(work, name, join) for name, join in plan(browser)], planned)
    results, done = [], threading.Event()
    server = serve(work, results, done)
    url = "http://127.0.0.1:%d/mse_page.html?plan=plan-%s.json" % (server.server_address[1], browser)
    process = start_browser(browser, url, os.path.join(work, "profile-" + browser))
    try:
        if not done.wait(240):
            print("FAIL: %s: the page reported nothing within 240 s" % browser)
            return False
        passed = [judge(browser, result, join, name != "silent.mp4")
                  for result, (name, join) in zip(results[0], plan(browser))]
        return len(results[0]) == len(plan(browser)) and all(passed)
    finally:
        os.killpg(process.pid, signal.SIGTERM)
        process.wait()
        server.shutdown()


def main():
    tool = sys.argv[1]
    work = tempfile.mkdtemp()
    try:
        record(tool, work)
        shutil.copy(os.path.join(HERE, "mse_page.html"), work)
        if not all([play_in(browser, work) for browser in BROWSER_STREAMS]):
            return 1
        print("all streams play through Media Source Extensions")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
