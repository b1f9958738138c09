#!/usr/bin/python3
"""Stand-ins for working on the scenes without media or a network.

  standin-service.py media [--port 22823]     a media service with a generated library
  standin-service.py cloud --port N [--forced] the vendor cloud offering a newer version

The media stand-in answers the control requests the assistant sends, on 127.0.0.1 only, from a
library held in memory: folders with videos, covers drawn on the fly, a device name that can be
changed. Imports succeed at once (the folder keeps what it has). Like the real service it refuses
what a web page could send: a foreign Host, an Origin, OPTIONS, a body that is not JSON. The cloud stand-in offers version
9.9.9.9 with a release note and serves a stand-in installer that cannot be started.
"""
import argparse
import json
import os
import struct
import sys
import tempfile
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlparse

# (name, type, children or (height, seconds, megabytes))
SAMPLE_TREE = [
    ("Documentaries", "directory", [
        ("Coral reefs.mp4", "video", (1080, 2712, 1450)),
        ("Deep sea.mkv", "video", (2160, 3140, 4210)),
        ("Arctic winter.mp4", "video", (720, 1803, 612)),
    ]),
    ("Family videos", "directory", [
        ("Birthday 2022.mp4", "video", (1080, 421, 233)),
        ("First steps.mov", "video", (720, 62, 41)),
    ]),
    ("Holiday 2023", "directory", [
        ("Day trips", "directory", [
            ("Lighthouse.mp4", "video", (1080, 95, 61)),
            ("Vineyard.mp4", "video", (720, 131, 44)),
        ]),
        ("Beach.mp4", "video", (1080, 187, 120)),
        ("Harbour at night.mp4", "video", (1440, 244, 310)),
        ("Old town walk.mkv", "video", (720, 905, 402)),
        ("Sunset timelapse.mp4", "video", (2160, 48, 96)),
    ]),
    ("Lectures", "directory", [
        ("Linear algebra 01.mp4", "video", (720, 3300, 512)),
        ("Linear algebra 02.mp4", "video", (720, 3420, 530)),
    ]),
    ("Music videos", "directory", [
        ("Live at the park.mp4", "video", (1080, 312, 188)),
    ]),
    ("Short films", "directory", [
        ("The long way home.mkv", "video", (1080, 1260, 905)),
    ]),
    ("Trailer.mp4", "video", (1080, 134, 96)),
    ("Welcome clip.mkv", "video", (360, 20, 6)),
]


class Library:
    """The sample tree, laid out on disk under root as empty folders and placeholder files: the
    assistant checks the PC paths it opens."""

    def __init__(self, root):
        self.entries = {}
        self.next_id = 1
        self.device_name = "Living-room PC"
        self.add_children(0, "", root, SAMPLE_TREE)

    def add_children(self, pid, path, real_path, children):
        for name, kind, payload in children:
            entry_id = self.next_id
            self.next_id += 1
            entry = {
                "id": entry_id,
                "pid": pid,
                "name": name,
                "real_path": real_path + "/" + name,
                "path": path + "/" + name,
                "create_time": 1700000000000 + entry_id * 86400000,
                "type": kind,
            }
            if kind == "directory":
                os.makedirs(entry["real_path"], exist_ok=True)
                entry["size"] = 0
                self.entries[entry_id] = entry
                self.add_children(entry_id, entry["path"], entry["real_path"], payload)
            else:
                height, seconds, megabytes = payload
                open(entry["real_path"], "ab").close()
                entry["size"] = megabytes * 1048576 + entry_id * 7919
                entry["metadata"] = {
                    "height": height,
                    "width": height * 16 // 9,
                    "duration": seconds * 1000,
                    "codec": "h264",
                    "cover_img": "/covers/%d.png" % entry_id,
                }
                self.entries[entry_id] = entry

    def listing(self, folder_id):
        return [e for e in self.entries.values() if e["pid"] == folder_id]

    def remove(self, entry_id):
        doomed = [entry_id]
        while doomed:
            current = doomed.pop()
            self.entries.pop(current, None)
            doomed += [e["id"] for e in self.entries.values() if e["pid"] == current]

    def find_by_real_path(self, real_path):
        return next((e for e in self.entries.values() if e["real_path"] == real_path), None)


def png(width, height, seed):
    """A cover: a diagonal blend between two colours picked from the entry id."""
    palette = [(38, 84, 160), (160, 72, 60), (44, 130, 96), (120, 70, 150), (170, 120, 40)]
    a = palette[seed % len(palette)]
    b = palette[(seed * 3 + 1) % len(palette)]
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            t = (x / width + y / height) / 2
            rows += bytes(int(a[i] * (1 - t) + b[i] * t) for i in range(3))

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(rows), 6)) + chunk(b"IEND", b""))


class MediaHandler(BaseHTTPRequestHandler):
    library = None

    def log_message(self, *args):
        pass

    def reply(self, code=0, msg="", data=None, status=200):
        body = json.dumps({"code": code, "msg": msg, "data": data if data is not None else {}},
                          ensure_ascii=False).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def refused(self):
        """Replies with the real service's refusal when the request is not one the assistant
        could have sent; true when it did."""
        port = self.server.server_address[1]
        loopback = {"127.0.0.1:%d" % port, "localhost:%d" % port, "[::1]:%d" % port}
        hosts = self.headers.get_all("Host") or []
        length = self.headers.get("Content-Length") or "0"
        content_type = (self.headers.get("Content-Type") or "").split(";")[0].strip().lower()
        if len(hosts) != 1 or hosts[0].lower() not in loopback:
            self.reply(-1, "this interface does not answer for the host %s" % ",".join(hosts), status=403)
        elif "Origin" in self.headers or self.command == "OPTIONS":
            self.reply(-1, "requests from web pages are not answered", status=403)
        elif length != "0" and content_type != "application/json":
            self.reply(-1, "the body must be JSON (Content-Type: application/json)", status=415)
        else:
            return False
        self.close_connection = True
        return True

    def do_OPTIONS(self):
        self.refused()

    def body(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length > 1 << 20:
            return None
        try:
            return json.loads(self.rfile.read(length) or b"{}")
        except ValueError:
            return None

    def do_GET(self):
        if self.refused():
            return None
        url = urlparse(self.path)
        if url.path == "/files":
            try:
                folder_id = int(parse_qs(url.query).get("id", ["0"])[0])
            except ValueError:
                return self.reply(-1, "id is not a number", status=400)
            return self.reply(data=self.library.listing(folder_id))
        if url.path == "/settings/":
            return self.reply(data={"deviceName": self.library.device_name})
        if url.path == "/lan/addresses":
            return self.reply(data={"port": 22824, "addresses": ["192.168.1.20"]})
        if url.path.startswith("/covers/"):
            try:
                seed = int(url.path[len("/covers/"):].split(".")[0])
            except ValueError:
                return self.reply(-3, "no such cover", status=404)
            image = png(160, 120, seed)
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.send_header("Content-Length", str(len(image)))
            self.end_headers()
            self.wfile.write(image)
            return None
        return self.reply(-3, "not found", status=404)

    def do_POST(self):
        if self.refused():
            return None
        url = urlparse(self.path)
        request = self.body()
        if url.path != "/files" or not isinstance(request, dict):
            return self.reply(-1, "bad request", status=400)
        entry = self.library.find_by_real_path(str(request.get("path", "")))
        if entry is None:
            return self.reply(-5, "the stand-in cannot read new files", status=422)
        if entry["type"] == "directory":
            count = sum(1 for e in self.library.listing(entry["id"]) if e["type"] == "video")
            return self.reply(data={"type": "directory", "successCount": count,
                                    "failureCount": 0, "pid": entry["pid"]})
        return self.reply(-2, "already in the library", {"pid": entry["pid"]})

    def do_PUT(self):
        if self.refused():
            return None
        request = self.body()
        if urlparse(self.path).path != "/settings/" or not isinstance(request, dict):
            return self.reply(-1, "bad request", status=400)
        name = str(request.get("deviceName", "")).strip()
        if not 0 < len(name) < 64:
            return self.reply(-1, "deviceName must have 1 to 63 characters", status=400)
        self.library.device_name = name
        return self.reply(data={"deviceName": name})

    def do_DELETE(self):
        if self.refused():
            return None
        path = urlparse(self.path).path
        if path.startswith("/requests/"):
            self.send_response(204)
            self.end_headers()
            return None
        if path.startswith("/files/"):
            try:
                self.library.remove(int(path[len("/files/"):]))
            except ValueError:
                return self.reply(-1, "id is not a number", status=400)
            return self.reply()
        return self.reply(-3, "not found", status=404)


class CloudHandler(BaseHTTPRequestHandler):
    forced = False
    port = 0

    def log_message(self, *args):
        pass

    def send(self, body, content_type):
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        info = {
            "errCode": 0,
            "data": {
                "version": "9.9.9.9",
                "forced": 1 if self.forced else 0,
                "note": "1. Faster folder imports/n2. Covers for more video formats/n"
                        "3. Fixes: https://example.invalid/release-notes/velnor-assistant-9.9.9.9",
                "url": "http://127.0.0.1:%d/download/VelnorAssistantSetup.run" % self.port,
            },
        }
        self.send(json.dumps(info).encode(), "application/json")

    def do_GET(self):
        # Not a program: starting it fails, which shows how the update page reports that.
        self.send(b"\0stand-in installer\0", "application/octet-stream")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("role", choices=["media", "cloud"])
    parser.add_argument("--port", type=int, default=22823)
    parser.add_argument("--forced", action="store_true", help="cloud: a mandatory update")
    parser.add_argument("--root", help="media: where the sample folders are laid out "
                                       "(default: a new temporary folder)")
    args = parser.parse_args()
    if args.role == "media":
        MediaHandler.library = Library(os.path.abspath(args.root or tempfile.mkdtemp(prefix="velnor-standin-")))
    handler = MediaHandler if args.role == "media" else CloudHandler
    CloudHandler.forced = args.forced
    CloudHandler.port = args.port
    server = ThreadingHTTPServer(("127.0.0.1", args.port), handler)
    print("listening on 127.0.0.1:%d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
