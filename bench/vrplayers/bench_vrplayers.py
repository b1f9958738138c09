#!/usr/bin/python3
"""The VR players' library replies for 10 000 videos, beside a DLNA Browse of the same library.

  /usr/bin/python3 bench/vrplayers/bench_vrplayers.py --build build [--rounds 9] [--videos 10000]

Needs root (it runs itself through service/tests/lan/netns-run.sh, so that the service sits in
a namespace of its own and its media server is on), ffmpeg and curl. Makes one 1 s clip and
hard links it 10 000 times into one folder, imports it into a service with a private data
folder, and times over one persistent HTTP connection each, from the client namespace:
  - DeoVR's library (GET /deovr) and HereSphere's (POST /heresphere): ms per reply and per
    video, as a player opening the server waits for it; "after a change" is the first reply
    after one more video was imported elsewhere (made afresh), "again" the next (kept);
  - one video's JSON of each player (ms per reply);
  - a whole-folder DLNA Browse (RequestedCount 0) of the same folder, the same two ways.
Each figure is the median of its rounds. Targets: a library reply under 100 ms, one video's
under 5 ms.
"""
import argparse
import http.client
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "upnp"))
import bench_upnp as upnp  # noqa: E402


class Player:
    """One player's requests to the headset API over one persistent connection."""

    def __init__(self, host, port):
        self.connection = http.client.HTTPConnection(host, port, timeout=60)

    def time(self, method, path):
        start = time.perf_counter()
        self.connection.request(method, path, b"{}" if method == "POST" else None,
                                {"Content-Type": "application/json"})
        reply = self.connection.getresponse()
        body = reply.read()
        if reply.status != 200:
            raise RuntimeError("%s %s answered %d" % (method, path, reply.status))
        return (time.perf_counter() - start) * 1e3, len(body)


def lan_port(ns, data):
    log = "".join(p.read_text(errors="replace") for p in sorted((data / "logs").glob("*.txt")))
    return int(log.rsplit("headset API on 0.0.0.0:", 1)[1].split()[0])


def run(args):
    binary = pathlib.Path(args.build).resolve() / "server" / "KivVelnorService"
    ns, host = os.environ["LAN_SERVER_NS"], os.environ["LAN_SERVER_ADDR"]
    work = pathlib.Path(tempfile.mkdtemp(prefix="velnor-vr-"))
    work.chmod(0o755)
    service = None
    try:
        upnp.make_videos(work / "clip.mp4", work / "media" / "Videos", args.videos)
        service, port = upnp.start_service(binary, ns, work / "data")
        upnp.import_folder(ns, port, work / "media" / "Videos")
        udn = (work / "data" / "device-uuid").read_text().strip()
        location = upnp.find_device(udn, host)
        browser = upnp.Browser("service", upnp.control_url(location), service.pid)
        folder = browser.find_folder("Videos")
        player = Player(host, lan_port(ns, work / "data"))
        figures = {}
        for round_ in range(args.rounds):
            extra = work / "media" / ("extra%d.mp4" % round_)
            os.link(work / "clip.mp4", extra)
            upnp.import_folder(ns, port, extra)
            for name, timed in (("DeoVR GET /deovr", lambda: player.time("GET", "/deovr")),
                                ("HereSphere POST /heresphere",
                                 lambda: player.time("POST", "/heresphere")),
                                ("DeoVR GET /deovr/<id>",
                                 lambda: player.time("GET", "/deovr/%d" % (args.videos // 2))),
                                ("HereSphere POST /heresphere/<id>",
                                 lambda: player.time("POST", "/heresphere/%d" % (args.videos // 2))),
                                ("DLNA Browse, whole folder",
                                 lambda: (upnp.time_whole(browser, folder)["ms"], 0))):
                for mode in ("after a change", "again"):
                    figures.setdefault((name, mode), []).append(timed()[0])
        print("%d videos, median of %d rounds" % (args.videos, args.rounds))
        print("%-34s %-15s %9s %13s" % ("reply", "", "ms", "us per video"))
        for (name, mode), values in figures.items():
            ms = statistics.median(values)
            per = "%13.2f" % (ms * 1e3 / args.videos) if "<id>" not in name else ""
            print("%-34s %-15s %9.2f %s" % (name, mode, ms, per))
        print("targets: a library reply under 100 ms, one video's under 5 ms")
    finally:
        upnp.stop(service)
        subprocess.run(["rm", "-rf", str(work)])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--videos", type=int, default=10000)
    args = parser.parse_args()
    if "LAN_SERVER_NS" not in os.environ:
        command = ["bash", str(upnp.NETNS_RUN), sys.executable, __file__, *sys.argv[1:]]
        os.execvp("bash", command)
    run(args)


if __name__ == "__main__":
    main()
