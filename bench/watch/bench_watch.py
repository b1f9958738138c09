#!/usr/bin/python3
"""Folder watching in the media service, against an import of the same files.

  /usr/bin/python3 bench/watch/bench_watch.py --build build [--files 2000] [--rounds 3] [--mb-per-s 64]

Needs ffmpeg. Every service runs with a private data folder and no headset API.

  paste:  N clips (copies of one small H.264 clip) are copied into a folder that a service
          watches already; the time from the start of the copy until the listing holds all N,
          against the time of importing the same N clips, already in place, into a fresh
          service. Rounds alternate; each figure is the median. Target: <= 1.2x the import.
          The copy is timed too: where making files is slow (on some virtual disks the kernel
          spends over a second creating 2 000), it alone can pass the import's time; with
          TMPDIR on a tmpfs (not one under /dev, which the service never imports) the figure is
          the watcher's own cost.
  copy:   a 2 GB video (a clip with its index at the front, then a 2 GB free box, so that a file
          read before it is whole would look fine and be wrong) is written into a watched folder
          at a steady rate; the service's CPU time from the start of the copy until the video
          is listed, against the writer's own CPU time, and how often the service read it
          (from its log). Target: read once.
"""
import argparse
import json
import os
import pathlib
import re
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def cpu_seconds(pid):
    # The process's own times include the threads that have ended.
    fields = pathlib.Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Service:
    def __init__(self, binary, data):
        self.data = data
        port = free_port()
        self.base = "http://127.0.0.1:%d" % port
        self.process = subprocess.Popen([str(binary), "--port", str(port), "--no-lan", "--data-dir", str(data)],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            try:
                urllib.request.urlopen(self.base + "/settings/", timeout=1)
                return
            except Exception:
                time.sleep(0.1)
        sys.exit("the service did not start")

    def call(self, method, path, body=None, timeout=600):
        request = urllib.request.Request(self.base + path, method=method,
                                         data=json.dumps(body).encode() if body is not None else None,
                                         headers={"Content-Type": "application/json"})
        return json.load(urllib.request.urlopen(request, timeout=timeout))

    def import_folder(self, folder):
        reply = self.call("POST", "/files", {"path": str(folder), "filters": [".mp4"], "depth": 1, "pid": 0})
        return reply["data"]["id"]

    def count(self, folder_id):
        return len(self.call("GET", "/files?id=%d" % folder_id)["data"])

    def log(self):
        return "".join(p.read_text() for p in sorted((self.data / "logs").glob("*.txt")))

    def wait_watched(self, folder):
        while "watching %s (" % folder not in self.log():
            time.sleep(0.05)
        # A folder imported a while ago, not one whose first rescan has just run.
        time.sleep(2)

    def reads(self, folder):
        found = re.findall(r"imported folder %s as \d+: (\d+) indexed, (\d+) failed" % re.escape(str(folder)),
                           self.log())
        return [(int(a), int(b)) for a, b in found]

    def wait_read(self, folder, n):
        # The log tells when a transaction with the last files is written; it costs the service
        # nothing to read, where a listing of thousands of entries costs it a few readings.
        while sum(read for read, _ in self.reads(folder)) < n:
            time.sleep(0.02)

    def stop(self):
        self.process.terminate()
        self.process.wait()


def import_round(binary, work, source, n):
    folder = work / "imported"
    folder.mkdir()
    start = time.monotonic()
    subprocess.run(["cp", "-r", str(source) + "/.", str(folder)], check=True)
    copied = time.monotonic() - start
    service = Service(binary, work / "data-import")
    try:
        start = time.monotonic()
        folder_id = service.import_folder(folder)
        seconds = time.monotonic() - start
        assert service.count(folder_id) == n
    finally:
        service.stop()
    shutil.rmtree(folder)
    shutil.rmtree(work / "data-import")
    return seconds, copied


def paste_round(binary, work, source, n):
    folder = work / "watched"
    folder.mkdir()
    service = Service(binary, work / "data-watch")
    try:
        folder_id = service.import_folder(folder)
        service.wait_watched(folder)
        start = time.monotonic()
        subprocess.run(["cp", "-r", str(source) + "/.", str(folder)], check=True)
        pasted = time.monotonic() - start
        service.wait_read(folder, n)
        seconds = time.monotonic() - start
        assert service.count(folder_id) == n
    finally:
        service.stop()
    reads = service.reads(folder)
    passes = sum(1 for read, failed in reads if read + failed)
    # Every clip read once, none failed: no reading of a file half copied.
    assert sum(read for read, _ in reads) == n and sum(failed for _, failed in reads) == 0
    shutil.rmtree(folder)
    shutil.rmtree(work / "data-watch")
    return seconds, pasted, passes


def copy_in(binary, work, clip, total, rate):
    folder = work / "big"
    folder.mkdir()
    service = Service(binary, work / "data-big")
    try:
        folder_id = service.import_folder(folder)
        service.wait_watched(folder)
        head = clip.read_bytes()
        padding = total - len(head)
        chunk = bytes(1 << 20)
        cpu_before = cpu_seconds(service.process.pid)
        own_before = time.process_time()
        start = time.monotonic()
        with open(folder / "big.mp4", "wb") as out:
            out.write(head)
            # A free box of 64-bit size: players and probes skip it.
            out.write(struct.pack(">I4sQ", 1, b"free", padding))
            left = padding - 16
            while left > 0:
                piece = chunk[:min(left, len(chunk))]
                out.write(piece)
                out.flush()
                left -= len(piece)
                lag = (total - left) / rate - (time.monotonic() - start)
                if lag > 0:
                    time.sleep(lag)
        written = time.monotonic() - start
        own = time.process_time() - own_before
        while service.count(folder_id) < 1:
            time.sleep(0.05)
        listed = time.monotonic() - start
        cpu = cpu_seconds(service.process.pid) - cpu_before
    finally:
        service.stop()
    reads = service.reads(folder)
    shutil.rmtree(folder)
    return written, listed, cpu, own, sum(r for r, _ in reads), sum(f for _, f in reads)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--gb", type=float, default=2.0)
    parser.add_argument("--mb-per-s", type=float, default=64.0)
    args = parser.parse_args()
    if not shutil.which("ffmpeg"):
        sys.exit("ffmpeg is missing: apt-get install -y ffmpeg")
    binary = pathlib.Path(args.build).resolve() / "server" / "KivVelnorService"
    work = pathlib.Path(tempfile.mkdtemp(prefix="velnor-watch-"))
    try:
        clip = work / "clip.mp4"
        subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=320x180:rate=10:duration=1",
                        "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-movflags", "+faststart",
                        str(clip)], check=True)
        source = work / "source"
        source.mkdir()
        for i in range(args.files):
            shutil.copyfile(clip, source / ("clip%05d.mp4" % i))

        imports, pastes = [], []
        for _ in range(max(1, args.rounds)):
            imports.append(import_round(binary, work, source, args.files))
            pastes.append(paste_round(binary, work, source, args.files))
        ours = statistics.median(p[0] for p in pastes)
        floor = statistics.median(i[0] for i in imports)
        by_hand = statistics.median(i[0] + i[1] for i in imports)
        print("%d clips of %d KB, median of %d rounds, on %d cores" % (args.files, clip.stat().st_size // 1024,
                                                                       len(imports), os.cpu_count()))
        for (watched, copy, passes), (imported, copied) in zip(pastes, imports):
            print("  round: watched %.2f s (copy %.2f s, %d rescans read files), import %.2f s (copy %.2f s)"
                  % (watched, copy, passes, imported, copied))
        print("%-34s %10s %10s %8s" % ("", "watched", "floor", "ratio"))
        print("%-34s %10.2f %10.2f %8.2f" % ("copy until all listed, vs import", ours, floor, ours / floor))
        print("%-34s %10.2f %10.2f %8.2f" % ("  vs copy, then import", ours, by_hand, ours / by_hand))
        after = statistics.median(p[0] - p[1] for p in pastes)
        print("%-34s %10.2f %10.2f %8.2f" % ("after the copy ended, vs import", after, floor, after / floor))
        print("target: ratio to the import <= 1.2")

        total = int(args.gb * 1e9)
        written, listed, cpu, own, read, failed = copy_in(binary, work, clip, total, args.mb_per_s * 1e6)
        print()
        print("%.1f GB written at %.0f MB/s in %.1f s, listed %.1f s after the copy began"
              % (total / 1e9, total / written / 1e6, written, listed))
        print("%-34s %10s %10s %8s" % ("", "service", "writer", "ratio"))
        print("%-34s %10.2f %10.2f %8.3f" % ("CPU seconds", cpu, own, cpu / own if own else 0))
        print("reads of the video by the service: %d (and %d failed); target: 1 and 0" % (read, failed))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
