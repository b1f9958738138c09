#!/usr/bin/python3
"""Converted streams from the media service, against the same ffmpeg command on its own.

  /usr/bin/python3 bench/transcode/bench_transcode.py --build build [--rounds 2]

Needs ffmpeg. Makes a 60 s 1280x720 MPEG-2 clip (MPEG-PS, MP2 sound) and a 60 s 1920x1080 wmv2
clip (ASF, WMA sound), imports them into a service with a private data folder, and for each:
  - reads its converted stream over loopback to the end: MB, seconds, realtime factor;
  - runs the very command the service ran (from its log), writing to /dev/null, in the same
    round: the floor; the throughput ratio is the floor's time over the service's (target
    >= 0.95: the service adds almost nothing to ffmpeg's work);
  - the time to the first byte of the stream, from its start and after a time seek to the
    middle (TimeSeekRange.dlna.org), in ms (target <= 1000 ms on a 2-core machine).
Each figure is the median of its rounds; the two runs of a round take turns.
"""
import argparse
import json
import os
import re
import shlex
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import http.client
import urllib.request


def make_clips(folder):
    recipes = {
        "mpeg2_720p.mpg": ["-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=60",
                           "-f", "lavfi", "-i", "sine=frequency=440:duration=60",
                           "-c:v", "mpeg2video", "-b:v", "6M", "-c:a", "mp2", "-f", "vob"],
        "wmv2_1080p.wmv": ["-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25:duration=60",
                           "-f", "lavfi", "-i", "sine=frequency=440:duration=60",
                           "-c:v", "wmv2", "-b:v", "8M", "-c:a", "wmav2"],
    }
    for name, args in recipes.items():
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            subprocess.run(["ffmpeg", "-v", "error", "-y", *args, path], check=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Service:
    def __init__(self, binary, data):
        self.data = data
        self.lan = free_port()
        env = dict(os.environ, VELNOR_NO_UPNP="1")
        self.process = subprocess.Popen([binary, "--port", "0", "--lan-port", str(self.lan),
                                         "--data-dir", data], stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, env=env)
        line = self.process.stdout.readline().decode()
        self.port = int(line.split()[1])

    def control(self, method, path, body=None):
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.port, path),
                                         method=method, data=json.dumps(body).encode()
                                         if body is not None else None,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=600) as reply:
            return json.loads(reply.read())

    def log(self):
        folder = os.path.join(self.data, "logs")
        return "".join(open(os.path.join(folder, name), errors="replace").read()
                       for name in sorted(os.listdir(folder)))

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


def read_stream(port, path, headers=None):
    """(ms to the first byte, seconds to the end, bytes) of one converted stream."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    start = time.monotonic()
    connection.request("GET", path, headers=headers or {})
    reply = connection.getresponse()
    if reply.status != 200:
        raise RuntimeError("%s: %d %s" % (path, reply.status, reply.read()[:200]))
    first = reply.read(1)
    ttfb = (time.monotonic() - start) * 1000
    size = len(first)
    while True:
        chunk = reply.read(1 << 16)
        if not chunk:
            break
        size += len(chunk)
    connection.close()
    return ttfb, time.monotonic() - start, size


def ffmpeg_alone(command):
    args = shlex.split(command)
    if args[-1] == "pipe:1":
        args[-1:] = ["-y", "/dev/null"]
    start = time.monotonic()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--clips", help="a folder to keep the clips in between runs")
    options = parser.parse_args()
    binary = os.path.join(options.build, "server", "KivVelnorService")
    with tempfile.TemporaryDirectory() as temp:
        clips = options.clips or os.path.join(temp, "clips")
        os.makedirs(clips, exist_ok=True)
        make_clips(clips)
        service = Service(binary, os.path.join(temp, "data"))
        try:
            imported = service.control("POST", "/files", {"path": clips, "depth": 1, "pid": 0})
            top = imported["data"]["id"]
            entries = service.control("GET", "/files?id=%d" % top)["data"]
            rows = []
            for entry in sorted(entries, key=lambda e: e["name"]):
                stem = entry["name"].rsplit(".", 1)[0]
                path = "/media/%d/t/0/%s.ts" % (entry["id"], urllib.request.quote(stem))
                duration = entry["metadata"]["duration"] / 1000
                figures = {"ttfb": [], "seek": [], "service": [], "alone": [], "mb": []}
                for _ in range(options.rounds):
                    ttfb, seconds, size = read_stream(service.lan, path)
                    command = re.findall(r"(?:transcode|remux) of .*?: (\S*ffmpeg .*)",
                                         service.log())[-1]
                    figures["ttfb"].append(ttfb)
                    figures["service"].append(seconds)
                    figures["mb"].append(size / 1e6)
                    figures["alone"].append(ffmpeg_alone(command))
                    seek, _, _ = read_stream(service.lan, path, {
                        "TimeSeekRange.dlna.org": "npt=%.3f-" % (duration / 2)})
                    figures["seek"].append(seek)
                median = {k: statistics.median(v) for k, v in figures.items()}
                rows.append((entry["name"], duration, median))
        finally:
            service.stop()
    print("%d rounds, medians, on %d cores" % (options.rounds, os.cpu_count()))
    print("%-16s %8s %9s %9s %7s %8s %9s %9s" % ("clip", "MB", "service s", "ffmpeg s",
                                                 "ratio", "x real", "1st byte", "after seek"))
    for name, duration, m in rows:
        print("%-16s %8.1f %9.2f %9.2f %7.2f %8.2f %7.0fms %8.0fms" % (
            name, m["mb"], m["service"], m["alone"], m["alone"] / m["service"],
            duration / m["service"], m["ttfb"], m["seek"]))
    print("targets: ratio >= 0.95, first byte and first byte after a seek <= 1000 ms")


if __name__ == "__main__":
    sys.exit(main())
