#!/usr/bin/python3
"""Start-up and memory of the assistant under a virtual X server.

  /usr/bin/python3 bench/startup/bench_startup.py --build build [--runs 5]

Start-up: time from exec to the first painted frame of the main window (the first moment the
window is mapped and its pixels are no longer uniform), against bench_minimal_window, a bare
Qt Quick window built by the same project, measured in the same run. Memory: the assistant's
resident set with the root showing a 10 000-entry listing, against the empty state. A stand-in
service on 127.0.0.1:22823 serves the listings, so nothing else may use that port meanwhile.
Needs: xvfb, python3-xlib.
"""
import argparse
import http.server
import json
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from Xlib import X, display


class StandIn(http.server.BaseHTTPRequestHandler):
    entries = []

    def do_GET(self):
        if self.path.startswith("/files"):
            body = {"code": 0, "msg": "", "data": StandIn.entries}
        else:
            body = {"code": 0, "msg": "", "data": {"deviceName": "bench"}}
        raw = json.dumps(body, ensure_ascii=False).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(raw)))
        self.end_headers()
        self.wfile.write(raw)

    def log_message(self, *args):
        pass


def listing(count):
    words = ["旅行", "Holiday", "家庭聚会", "Concert", "kids", "毕业典礼", "Drone", "sunset", "会议记录", "Trailer"]
    entries = []
    for i in range(count):
        folder = i % 7 == 0
        name = "%s %04d%s" % (words[i % len(words)], i, "" if folder else ".mp4")
        entry = {"id": i + 1, "pid": 0, "name": name, "path": "/" + name, "real_path": "/home/user/Videos/" + name,
                 "type": "directory" if folder else "video", "size": 1000000 + i * 7919,
                 "create_time": 1700000000000 + i * 1000}
        if not folder:
            entry["metadata"] = {"height": [360, 720, 1080, 2160][i % 4], "width": 1280, "duration": 60000 + i,
                                 "codec": "h264", "cover_img": ""}
        entries.append(entry)
    return entries


def start_xvfb():
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
                            pass_fds=[write_fd], stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    while not number.endswith(b"\n"):
        number += os.read(read_fd, 16)
    os.close(read_fd)
    return xvfb, ":" + number.decode().strip()


def painted_window(dpy, pid):
    atom = dpy.intern_atom("_NET_WM_PID")
    for window in dpy.screen().root.query_tree().children:
        try:
            prop = window.get_full_property(atom, X.AnyPropertyType)
            if not prop or prop.value[0] != pid or window.get_attributes().map_state != X.IsViewable:
                continue
            geometry = window.get_geometry()
            if geometry.width < 400:
                continue
            image = window.get_image(0, 0, geometry.width, geometry.height, X.ZPixmap, 0xFFFFFFFF)
            if len(set(image.data[::4096])) > 1:
                return True
        except Exception:
            pass
    return False


def time_to_first_frame(command, env, dpy):
    start = time.monotonic()
    process = subprocess.Popen(command, env=env, cwd=os.path.dirname(command[0]), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        while time.monotonic() - start < 30:
            if painted_window(dpy, process.pid):
                return time.monotonic() - start, process
            time.sleep(0.005)
        raise RuntimeError("no frame from %s" % command[0])
    except Exception:
        process.kill()
        raise


def rss_kib(pid):
    for line in open("/proc/%d/status" % pid):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def stop(process):
    process.terminate()
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    assistant = build / "VelnorAssistant"
    minimal = build / "bench" / "startup" / "bench_minimal_window"

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 22823), StandIn)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    home = pathlib.Path(tempfile.mkdtemp(prefix="velnor-bench-"))
    (home / "run").mkdir(mode=0o700)
    xvfb, name = start_xvfb()
    env = dict(os.environ, DISPLAY=name, HOME=str(home), XDG_RUNTIME_DIR=str(home / "run"),
               XDG_DATA_HOME=str(home / "data"), VELNOR_CLOUD_URL="http://127.0.0.1:9", LC_ALL="C.UTF-8")
    for key in ("QT_QPA_PLATFORM", "QT_QUICK_BACKEND"):
        env.pop(key, None)
    # A copy without a server folder beside it, so that no real service competes with the stand-in.
    (home / "app").mkdir()
    shutil.copy2(assistant, home / "app" / "VelnorAssistant")
    assistant = home / "app" / "VelnorAssistant"
    dpy = display.Display(name)
    try:
        ours, floor = [], []
        for _ in range(args.runs):
            seconds, process = time_to_first_frame([str(minimal)], env, dpy)
            floor.append(seconds)
            stop(process)
            StandIn.entries = []
            seconds, process = time_to_first_frame([str(assistant)], env, dpy)
            ours.append(seconds)
            stop(process)
        a, b = statistics.median(ours), statistics.median(floor)
        print("start-up to first frame: assistant %.0f ms, minimal Qt Quick window %.0f ms, ratio %.2f (target <= 1.5)"
              % (a * 1000, b * 1000, a / b))

        StandIn.entries = []
        _, process = time_to_first_frame([str(assistant)], env, dpy)
        time.sleep(2)
        empty = rss_kib(process.pid)
        stop(process)
        StandIn.entries = listing(10000)
        _, process = time_to_first_frame([str(assistant)], env, dpy)
        time.sleep(4)
        full = rss_kib(process.pid)
        stop(process)
        print("resident memory: empty state %.1f MiB, 10 000-entry root %.1f MiB, difference %.1f MiB, ratio %.2f"
              % (empty / 1024, full / 1024, (full - empty) / 1024, full / empty))
    finally:
        xvfb.terminate()
        server.shutdown()
        shutil.rmtree(home, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
