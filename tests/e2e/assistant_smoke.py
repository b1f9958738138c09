#!/usr/bin/python3
"""Starts the built assistant under a virtual X server, with the media service beside it, and
closes it the way a window manager does. Checks that it shows the library, exits 0, uploads its
usage events to the (local) cloud and remembers that the first run is over."""
import argparse
import http.server
import json
import os
import pathlib
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

from Xlib import X, display, protocol

failures = []
passes = []


def check(condition, text):
    print(("ok   " if condition else "FAIL ") + text, flush=True)
    (passes if condition else failures).append(text)
    return condition


def wait_for(predicate, timeout, step=0.1):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


class Cloud(http.server.BaseHTTPRequestHandler):
    uploads = []
    # Long enough for a second close request to arrive while the assistant waits for the answer.
    upload_delay = 1.0

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if self.path.endswith("/velnor_data_upload"):
            Cloud.uploads.append(body)
            time.sleep(Cloud.upload_delay)
            reply = b'{"errCode":0}'
        else:  # the version check: nothing newer
            reply = b'{"code":0,"data":{"version":"0.0.1"}}'
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def start_xvfb():
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
                            pass_fds=[write_fd], stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_fd, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_fd)
    return xvfb, ":" + number.decode().strip()


def windows_of(dpy, pid):
    atom = dpy.intern_atom("_NET_WM_PID")
    found = []

    def walk(window):
        try:
            prop = window.get_full_property(atom, X.AnyPropertyType)
            attrs = window.get_attributes()
            if prop and prop.value and prop.value[0] == pid and attrs.map_state == X.IsViewable:
                found.append(window)
            for child in window.query_tree().children:
                walk(child)
        except Exception:
            pass

    walk(dpy.screen().root)
    return found


def request_close(dpy, window):
    """What a window manager sends for a click on its close button or Alt+F4."""
    protocols = dpy.intern_atom("WM_PROTOCOLS")
    delete = dpy.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                         data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(event, event_mask=X.NoEventMask)
    dpy.flush()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--assistant", required=True)
    args = parser.parse_args()
    assistant = pathlib.Path(args.assistant)
    service = assistant.parent / "server" / "KivVelnorService"
    check(service.exists(), "the service is built beside the assistant")
    # The assistant talks to the service on its fixed port; another service there would answer
    # in its place and make every check below meaningless.
    with socket.socket() as probe:
        busy = probe.connect_ex(("127.0.0.1", 22823)) == 0
    if not check(not busy, "nothing else listens on 127.0.0.1:22823"):
        print("%d passed, %d failed" % (len(passes), len(failures)))
        return 1

    cloud = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Cloud)
    threading.Thread(target=cloud.serve_forever, daemon=True).start()

    home = pathlib.Path(tempfile.mkdtemp(prefix="velnor-smoke-"))
    runtime = home / "run"
    runtime.mkdir(mode=0o700)
    env = dict(os.environ, HOME=str(home), XDG_RUNTIME_DIR=str(runtime), XDG_DATA_HOME=str(home / "data"),
               XDG_CONFIG_HOME=str(home / "config"), XDG_CACHE_HOME=str(home / "cache"),
               VELNOR_CLOUD_URL="http://127.0.0.1:%d" % cloud.server_port, LC_ALL="C.UTF-8")
    for name in ("QT_QPA_PLATFORM", "QT_QUICK_BACKEND"):
        env.pop(name, None)

    xvfb, name = start_xvfb()
    env["DISPLAY"] = name
    app = None
    try:
        app = subprocess.Popen([str(assistant)], cwd=str(assistant.parent), env=env)
        log_dir = home / "data" / "QXLT" / "VelnorAssistant"
        check(wait_for(lambda: any(log_dir.glob("*.txt")), 20), "the daily log file appears")

        def settings():
            try:
                with urllib.request.urlopen("http://127.0.0.1:22823/settings/", timeout=2) as reply:
                    return json.load(reply)
            except Exception:
                return None
        check(wait_for(settings, 20) is not None, "the assistant launched the media service")

        service_log = home / "data" / "QXLT" / "KivVelnorService"
        def listed():
            return any("GET /files" in p.read_text(errors="replace") for p in service_log.glob("**/*.txt"))
        check(wait_for(listed, 20), "the assistant asked for the first listing")

        dpy = display.Display(name)

        def main_window():
            return [w for w in windows_of(dpy, app.pid) if w.get_geometry().width == 1360]

        def pages():
            return [w for w in windows_of(dpy, app.pid) if w.get_geometry().width != 1360]

        main = wait_for(main_window, 20)
        if check(bool(main), "the main window is shown at 1360 wide"):
            geometry = main[0].get_geometry()
            check(geometry.height == 875, "the window is 1360x875 (%dx%d)" % (geometry.width, geometry.height))
            # A first run greets the user with a modal page; it must be closed before the window
            # under it takes input, as a person would.
            welcome = wait_for(pages, 10)
            check(bool(welcome), "the welcome page is shown on the first run")
            for page in welcome:
                request_close(dpy, page)
            check(wait_for(lambda: not pages(), 10), "the welcome page closes on a close request")
            request_close(dpy, main[0])
            # Alt+F4 pressed twice: the second request must not cut off the upload at close.
            time.sleep(Cloud.upload_delay / 3)
            request_close(dpy, main[0])
        try:
            code = app.wait(30)
        except subprocess.TimeoutExpired:
            code = None
        check(code == 0, "the assistant exits 0 after a close request (%s)" % code)
        check(wait_for(lambda: settings() is None, 10), "the service it launched has ended")

        events = [event for body in Cloud.uploads for event in json.loads(body)]
        ids = [event.get("eventId") for event in events]
        check("velnorAssistant_velnor_home_0_0_page_view" in ids, "the usage events reached the cloud (%s)" % ids)
        lost = [line for p in log_dir.glob("*.txt") for line in p.read_text(errors="replace").splitlines()
                if "error evnetid" in line]
        check(len(Cloud.uploads) == 1 and not lost, "the upload at close was sent once and answered (%s)" % lost)

        flag_file = log_dir / "setting.inf"
        flag = json.loads(flag_file.read_text()) if flag_file.exists() else None
        check(flag == {"is_first_install": False}, "setting.inf remembers the first run (%s)" % flag)
    finally:
        if app and app.poll() is None:
            app.send_signal(signal.SIGTERM)
            try:
                app.wait(10)
            except subprocess.TimeoutExpired:
                app.kill()
        xvfb.terminate()
        xvfb.wait()
        cloud.shutdown()
        shutil.rmtree(home, ignore_errors=True)

    print("%d passed, %d failed" % (len(passes), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
