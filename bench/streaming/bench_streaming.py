#!/usr/bin/python3
"""Streaming from the media service's LAN side, against nginx serving the same file.

  /usr/bin/python3 bench/streaming/bench_streaming.py --build build [--seconds 8] [--rounds 3]

Needs nginx and wrk (apt-get install -y nginx-light wrk) and ffmpeg. Makes a 200 MB video
(uncompressed frames, so that it is quick to make and still a real, probeable file), imports it
into a service with a private data folder, then measures with wrk over loopback:
  - full downloads, one connection: MB/s;
  - random 64 KiB ranges, 8 connections: requests/s;
and each server's CPU time per GB sent, read from /proc. nginx serves the same file from a
private configuration on a free port, in the same run. The two take turns for several rounds and
each figure is the median of its rounds, so that a burst of other work on a shared machine
does not decide the ratio. Targets: >= 0.9x nginx's throughput and >= 0.7x its 64 KiB
requests/s.
"""
import argparse
import json
import os
import pathlib
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

RANGE_SCRIPT = """
local size = %d
math.randomseed(%d)
request = function()
  local start = math.random(0, size - 65536 - 1)
  return wrk.format("GET", nil, { ["Range"] = "bytes=" .. start .. "-" .. (start + 65535) })
end
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def cpu_seconds(pids):
    total = 0
    for pid in pids:
        for task in pathlib.Path("/proc/%d/task" % pid).iterdir():
            fields = (task / "stat").read_text().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
    return total / os.sysconf("SC_CLK_TCK")


def wrk(url, seconds, connections, script=None):
    command = ["wrk", "-t", str(min(connections, 2)), "-c", str(connections), "-d", "%ds" % seconds, "--latency"]
    if script:
        command += ["-s", script]
    out = subprocess.run(command + [url], capture_output=True, text=True, check=True).stdout
    requests = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    transfer = re.search(r"Transfer/sec:\s+([\d.]+)(\w+)", out)
    scale = {"B": 1, "KB": 1024, "MB": 1024 ** 2, "GB": 1024 ** 3}[transfer.group(2)]
    errors = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    return requests, float(transfer.group(1)) * scale, int(errors.group(1)) if errors else 0


def measure(name, url, pids, size, seconds, workdir):
    results = {}
    before = cpu_seconds(pids)
    _, full_rate, full_errors = wrk(url, seconds, 1)
    full_cpu = cpu_seconds(pids) - before
    results["full MB/s"] = full_rate / 1e6
    results["full CPU s/GB"] = full_cpu / (full_rate * seconds / 1e9)
    script = workdir / ("range-%s.lua" % name)
    script.write_text(RANGE_SCRIPT % (size, 1234))
    before = cpu_seconds(pids)
    range_requests, range_rate, range_errors = wrk(url, seconds, 8, str(script))
    range_cpu = cpu_seconds(pids) - before
    results["64KiB req/s"] = range_requests
    results["64KiB CPU s/GB"] = range_cpu / (range_rate * seconds / 1e9)
    results["errors"] = full_errors + range_errors
    return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--seconds", type=int, default=8)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    for tool in ("nginx", "wrk", "ffmpeg"):
        if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
            sys.exit("%s is missing: apt-get install -y nginx-light wrk ffmpeg" % tool)
    service_binary = pathlib.Path(args.build).resolve() / "server" / "KivVelnorService"
    work = pathlib.Path(tempfile.mkdtemp(prefix="velnor-stream-"))
    # nginx's workers drop to an unprivileged user, who must be able to read the file.
    work.chmod(0o755)
    media = work / "media"
    media.mkdir()
    video = media / "big.avi"
    subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=1920x1080:rate=25",
                    "-frames:v", "65", "-c:v", "rawvideo", "-pix_fmt", "yuv420p", str(video)], check=True)
    size = video.stat().st_size

    control, lan = free_port(), free_port()
    service = subprocess.Popen([str(service_binary), "--port", str(control), "--lan-port", str(lan),
                                "--data-dir", str(work / "data"), "--no-upnp"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    nginx = None
    try:
        base = "http://127.0.0.1:%d" % control
        for _ in range(100):
            try:
                urllib.request.urlopen(base + "/settings/", timeout=1)
                break
            except Exception:
                time.sleep(0.1)
        body = json.dumps({"path": str(media), "filters": [".avi"], "depth": 1, "pid": 0}).encode()
        request = urllib.request.Request(base + "/files", data=body, method="POST",
                                         headers={"Content-Type": "application/json"})
        folder = json.load(urllib.request.urlopen(request, timeout=120))["data"]["id"]
        listing = json.load(urllib.request.urlopen(base + "/files?id=%d" % folder, timeout=10))["data"]
        media_id = listing[0]["id"]

        nginx_port = free_port()
        conf = work / "nginx.conf"
        conf.write_text("""
worker_processes auto;
pid %(work)s/nginx.pid;
error_log %(work)s/nginx-error.log;
daemon off;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  keepalive_requests 1000000;
  types { video/x-msvideo avi; }
  server { listen 127.0.0.1:%(port)d; root %(media)s; }
}
""" % {"work": work, "port": nginx_port, "media": media})
        nginx = subprocess.Popen(["nginx", "-c", str(conf), "-p", str(work)], stderr=subprocess.DEVNULL)
        time.sleep(0.5)
        nginx_pids = [nginx.pid] + [int(p) for p in subprocess.run(["pgrep", "-P", str(nginx.pid)], capture_output=True,
                                                                    text=True).stdout.split()]

        rounds = {"service": [], "nginx": []}
        for _ in range(max(1, args.rounds)):
            rounds["service"].append(measure("service", "http://127.0.0.1:%d/media/%d" % (lan, media_id),
                                             [service.pid], size, args.seconds, work))
            rounds["nginx"].append(measure("nginx", "http://127.0.0.1:%d/big.avi" % nginx_port, nginx_pids, size,
                                           args.seconds, work))

        def median(name, key):
            return statistics.median(r[key] for r in rounds[name])

        print("file: %.0f MB; %d s per measurement, median of %d rounds, on %d cores"
              % (size / 1e6, args.seconds, len(rounds["service"]), os.cpu_count()))
        print("%-16s %12s %12s %8s" % ("", "service", "nginx", "ratio"))
        for key, digits in (("full MB/s", 1), ("64KiB req/s", 1), ("full CPU s/GB", 3), ("64KiB CPU s/GB", 3)):
            ours, floor = median("service", key), median("nginx", key)
            print("%-16s %12.*f %12.*f %8.2f" % (key, digits, ours, digits, floor, ours / floor if floor else 0))
        print("error replies: service %d, nginx %d" % (sum(r["errors"] for r in rounds["service"]),
                                                       sum(r["errors"] for r in rounds["nginx"])))
        print("targets: full MB/s ratio >= 0.9, 64KiB req/s ratio >= 0.7")
    finally:
        service.terminate()
        service.wait()
        if nginx:
            nginx.terminate()
            nginx.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
