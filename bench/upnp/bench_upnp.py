#!/usr/bin/python3
"""ContentDirectory Browse of a folder of 10 000 videos, against MiniDLNA serving the same folder.

  /usr/bin/python3 bench/upnp/bench_upnp.py --build build [--rounds 9] [--videos 10000]

Needs root (it runs itself through service/tests/lan/netns-run.sh --pairs 2, so that both
servers sit in a namespace of their own), ffmpeg and MiniDLNA
(apt-get install -y --no-install-recommends minidlna). Makes one 1 s clip and hard links it
10 000 times, imports the folder into a service with a private data folder, and starts MiniDLNA
by hand on the same folder with a private configuration, database and log: our device is
browsed on the server namespace's first address, MiniDLNA on its second. When both have
indexed the folder (bounded waits), it times over one persistent HTTP connection each (MiniDLNA
closes it after every reply, so the client opens a new one; the count is printed):
  - the whole folder in one Browse (RequestedCount 0): ms per listing and per object returned,
    and what each returns (MiniDLNA cuts its reply at about 2 MB, some 4 750 objects);
  - every page of 200 in order: ms per page and pages/s;
  - the whole folder once more ("again"): what a player that comes back to the folder waits
    for.
The service keeps the objects it has written, each until it shows something else, so each of
its rounds begins with a change to its library (one more video imported elsewhere, and a second
to settle), and its very first listing of the folder, before the rounds, is printed on its own
("very first", one sample each). Each server's
CPU time is read from /proc (a mean). The two take turns for several rounds and each figure is
the median of its rounds, so that a burst of other work on a shared machine does not decide
the ratio. Target: at least MiniDLNA's speed (ratio >= 1, higher is better).
"""
import argparse
import html
import http.client
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
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET

HERE = pathlib.Path(__file__).resolve().parent
NETNS_RUN = HERE.parent.parent / "service" / "tests" / "lan" / "netns-run.sh"
CDS = "urn:schemas-upnp-org:service:ContentDirectory:1"
DEVICE = "{urn:schemas-upnp-org:device-1-0}"
DIDL = "{urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/}"
DC = "{http://purl.org/dc/elements/1.1/}"
PAGE = 200
ENVELOPE = ('<?xml version="1.0" encoding="utf-8"?>'
            '<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>'
            '<u:Browse xmlns:u="%s"><ObjectID>%%s</ObjectID>'
            '<BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>'
            '<StartingIndex>%%d</StartingIndex><RequestedCount>%%d</RequestedCount>'
            '<SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>' % CDS)


def cpu_seconds(pid):
    """CPU time of the process: all its threads, those that have ended too, in clock ticks."""
    fields = pathlib.Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
    return sum(int(field) for field in fields[11:15]) / os.sysconf("SC_CLK_TCK")


class Browser:
    """Browse requests to one ContentDirectory over one plain persistent HTTP connection."""

    def __init__(self, name, control_url, pid):
        self.name, self.pid = name, pid
        url = urllib.parse.urlsplit(control_url)
        self.path = url.path + ("?" + url.query if url.query else "")
        self.connection = http.client.HTTPConnection(url.hostname, url.port, timeout=60)
        self.reconnects = 0

    def raw(self, object_id, start, count):
        try:
            self.connection.request("POST", self.path, ENVELOPE % (html.escape(object_id), start, count), {
                "Content-Type": 'text/xml; charset="utf-8"', "SOAPACTION": '"%s#Browse"' % CDS})
            reply = self.connection.getresponse()
            body = reply.read()
        except (OSError, http.client.HTTPException):
            # The next request opens a new connection.
            self.connection.close()
            raise
        if reply.status != 200:
            raise RuntimeError("%s: Browse %s answered %d" % (self.name, object_id, reply.status))
        if reply.will_close:
            self.reconnects += 1
        return body

    def browse(self, object_id, start=0, count=0):
        """(NumberReturned, TotalMatches, DIDL-Lite objects)."""
        body = ET.fromstring(self.raw(object_id, start, count))
        answer = next(body.iter("{%s}BrowseResponse" % CDS))
        result = answer.findtext("Result")
        return (int(answer.findtext("NumberReturned")), int(answer.findtext("TotalMatches")),
                list(ET.fromstring(result)) if result else [])

    def find_folder(self, title):
        """The id of the first container called title, looked for from "0", breadth first."""
        queue, seen = ["0"], 0
        while queue and seen < 100:
            parent = queue.pop(0)
            seen += 1
            for node in self.browse(parent)[2]:
                if node.tag != DIDL + "container":
                    continue
                if node.findtext(DC + "title") == title:
                    return node.get("id")
                queue.append(node.get("id"))
        return None

    def holds(self, folder, size):
        return self.browse(folder, 0, 1)[1] == size


def counts(body):
    """NumberReturned and TotalMatches, read without parsing the whole reply."""
    found = [int(re.search(rb"<%s>(\d+)</%s>" % (tag, tag), body).group(1))
             for tag in (b"NumberReturned", b"TotalMatches")]
    return tuple(found)


def time_whole(browser, folder):
    before_cpu, start = cpu_seconds(browser.pid), time.perf_counter()
    body = browser.raw(folder, 0, 0)
    elapsed = time.perf_counter() - start
    returned, total = counts(body)
    return {"ms": elapsed * 1e3, "cpu ms": (cpu_seconds(browser.pid) - before_cpu) * 1e3,
            "returned": returned, "total": total, "bytes": len(body)}


def time_pages(browser, folder, total):
    before_cpu, start = cpu_seconds(browser.pid), time.perf_counter()
    bodies = [browser.raw(folder, first, PAGE) for first in range(0, total, PAGE)]
    elapsed = time.perf_counter() - start
    cpu = cpu_seconds(browser.pid) - before_cpu
    return {"ms": elapsed * 1e3 / len(bodies), "cpu ms": cpu * 1e3 / len(bodies),
            "pages/s": len(bodies) / elapsed, "returned": sum(counts(body)[0] for body in bodies)}


def make_videos(clip, folder, count):
    """count hard links of one small clip in folder: they cost no space."""
    folder.mkdir(parents=True)
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc=size=320x180:rate=25:duration=1", "-c:v", "libx264", "-preset",
                    "ultrafast", "-pix_fmt", "yuv420p", str(clip)], check=True)
    for i in range(count):
        os.link(clip, folder / ("video%05d.mp4" % i))


def server_addresses(ns):
    out = subprocess.run(["ip", "-n", ns, "-4", "-o", "addr", "show"], capture_output=True, text=True,
                         check=True).stdout
    return [a for a in re.findall(r"inet (\d+\.\d+\.\d+\.\d+)/", out) if not a.startswith("127.")]


def in_server(ns, *command, **kwargs):
    return subprocess.Popen(["ip", "netns", "exec", ns, *command], **kwargs)


def start_service(binary, ns, data):
    env = {k: v for k, v in os.environ.items() if k != "VELNOR_NO_UPNP"}
    process = in_server(ns, str(binary), "--port", "0", "--lan-port", "0", "--data-dir", str(data),
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    ports = {}
    while len(ports) < 2:
        line = process.stdout.readline().decode()
        if not line:
            raise RuntimeError("the service did not start")
        name, value = line.split()
        ports[name] = int(value)
    return process, ports["control-port"]


def import_folder(ns, port, folder):
    body = json.dumps({"path": str(folder), "filters": [".mp4"], "depth": 0, "pid": 0})
    out = subprocess.run(["ip", "netns", "exec", ns, "curl", "-s", "--max-time", "900", "-X", "POST",
                          "-H", "Content-Type: application/json; charset=utf-8", "--data-binary", body,
                          "http://127.0.0.1:%d/files" % port], capture_output=True, text=True, check=True)
    if '"code":0' not in out.stdout.replace(" ", ""):
        raise RuntimeError("the import failed: " + out.stdout)


def find_device(udn, host, seconds=15):
    """Our description's location on host, found the way a player finds it: by M-SEARCH."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    client = os.environ["LAN_CLIENT_ADDR"]
    sock.bind((client, 0))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(client))
    end = time.time() + seconds
    try:
        while time.time() < end:
            sock.sendto(('M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: "ssdp:discover"\r\n'
                         'MX: 1\r\nST: %s\r\n\r\n' % udn).encode(), ("239.255.255.250", 1900))
            answer_end = time.time() + 1.5
            while time.time() < answer_end:
                sock.settimeout(max(0.01, answer_end - time.time()))
                try:
                    data = sock.recv(8192).decode(errors="replace")
                except socket.timeout:
                    break
                location = re.search(r"(?im)^LOCATION:\s*(\S+)", data)
                if location and urllib.parse.urlsplit(location.group(1)).hostname == host:
                    return location.group(1)
    finally:
        sock.close()
    return None


def control_url(location):
    """The ContentDirectory's control URL, made absolute against URLBase or the location."""
    with urllib.request.urlopen(location, timeout=10) as reply:
        root = ET.fromstring(reply.read())
    base = root.findtext(DEVICE + "URLBase") or location
    for service in root.iter(DEVICE + "service"):
        if service.findtext(DEVICE + "serviceType") == CDS:
            return urllib.parse.urljoin(base, service.findtext(DEVICE + "controlURL").strip())
    raise RuntimeError("no ContentDirectory in " + location)


def start_minidlna(ns, work, media, address):
    for name in ("db", "log"):
        (work / name).mkdir()
    # The port is picked in the server namespace, where MiniDLNA listens.
    port = int(subprocess.run(["ip", "netns", "exec", ns, sys.executable, "-c",
                               "import socket; s = socket.socket(); s.bind(('%s', 0)); "
                               "print(s.getsockname()[1])" % address],
                              capture_output=True, text=True, check=True).stdout)
    conf = work / "minidlna.conf"
    conf.write_text("media_dir=V,%s\ndb_dir=%s\nlog_dir=%s\nlistening_ip=%s\nport=%d\ninotify=no\n"
                    "friendly_name=bench-minidlna\nlog_level=general,artwork,database,inotify,scanner,"
                    "metadata,http,ssdp,tivo=warn\n"
                    % (media, work / "db", work / "log", address, port))
    process = in_server(ns, "minidlnad", "-S", "-f", str(conf), "-P", str(work / "minidlna.pid"),
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return process, "http://%s:%d/rootDesc.xml" % (address, port)


def wait_until(what, condition, seconds):
    end = time.time() + seconds
    while time.time() < end:
        try:
            value = condition()
            if value:
                return value
        except (OSError, http.client.HTTPException, RuntimeError, ET.ParseError, StopIteration):
            pass
        time.sleep(1)
    raise RuntimeError("%s: not ready within %d s" % (what, seconds))


def stop(process):
    if process and process.poll() is None:
        process.terminate()
        try:
            process.wait(15)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def run(args):
    for tool in ("ffmpeg", "minidlnad", "curl"):
        if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
            sys.exit("%s is missing: apt-get install -y --no-install-recommends minidlna ffmpeg curl" % tool)
    binary = pathlib.Path(args.build).resolve() / "server" / "KivVelnorService"
    ns = os.environ["LAN_SERVER_NS"]
    addresses = server_addresses(ns)
    if len(addresses) < 2:
        sys.exit("the server namespace needs two addresses (netns-run.sh --pairs 2)")
    ours_host, theirs_host = os.environ["LAN_SERVER_ADDR"], next(a for a in addresses if a != os.environ[
        "LAN_SERVER_ADDR"])
    work = pathlib.Path(tempfile.mkdtemp(prefix="velnor-upnp-"))
    work.chmod(0o755)
    service = minidlna = None
    try:
        media = work / "media"
        folder = media / "Videos"
        started = time.time()
        make_videos(work / "clip.mp4", folder, args.videos)
        print("made %d videos in %.1f s" % (args.videos, time.time() - started), flush=True)

        started = time.time()
        minidlna, minidlna_location = start_minidlna(ns, work, media, theirs_host)
        service, port = start_service(binary, ns, work / "data")
        import_folder(ns, port, folder)
        print("service imported them in %.1f s" % (time.time() - started), flush=True)
        udn = (work / "data" / "device-uuid").read_text().strip()
        location = find_device(udn, ours_host)
        if not location:
            raise RuntimeError("our device did not answer a search on " + ours_host)
        ours = Browser("service", control_url(location), service.pid)
        ours_folder = ours.find_folder("Videos")
        if not ours_folder or not ours.holds(ours_folder, args.videos):
            raise RuntimeError("the service has no folder of %d videos" % args.videos)

        theirs = Browser("MiniDLNA", wait_until("MiniDLNA", lambda: control_url(minidlna_location), 30),
                         minidlna.pid)
        # MiniDLNA indexes in the background; the folder appears first and fills up.
        theirs_folder = wait_until("MiniDLNA's folder", lambda: theirs.find_folder("Videos"),
                                   args.index_seconds)
        wait_until("MiniDLNA's index", lambda: theirs.holds(theirs_folder, args.videos), args.index_seconds)
        print("MiniDLNA indexed them in %.1f s" % (time.time() - started), flush=True)

        # One pass each before the rounds, so that neither pays for a cold cache in the first
        # round; its whole listing is the first that server wrote of the folder.
        first = {}
        for browser, folder_id in ((ours, ours_folder), (theirs, theirs_folder)):
            first[browser.name] = time_whole(browser, folder_id)
            time_pages(browser, folder_id, args.videos)

        rounds = {"service": [], "MiniDLNA": []}
        pairs = [(ours, ours_folder), (theirs, theirs_folder)]
        for index in range(max(1, args.rounds)):
            for browser, folder_id in pairs if index % 2 == 0 else reversed(pairs):
                if browser is ours:
                    # A change to the library (a video imported elsewhere), so that nothing the
                    # service kept of its listings can answer the first ones.
                    extra = work / ("extra%03d.mp4" % index)
                    os.link(work / "clip.mp4", extra)
                    import_folder(ns, port, extra)
                    time.sleep(1)
                rounds[browser.name].append({"whole": time_whole(browser, folder_id),
                                             "pages": time_pages(browser, folder_id, args.videos),
                                             "again": time_whole(browser, folder_id)})

        for runs in rounds.values():
            for run_ in runs:
                for mode in ("whole", "again"):
                    run_[mode]["us per object"] = run_[mode]["ms"] * 1e3 / max(1, run_[mode]["returned"])

        def median(name, mode, key):
            # CPU time comes in ticks of 10 ms: its mean over the rounds says more than a median.
            average = statistics.mean if key == "cpu ms" else statistics.median
            return average(r[mode][key] for r in rounds[name])

        print("folder of %d videos, pages of %d; median of %d rounds, on %d cores"
              % (args.videos, PAGE, len(rounds["service"]), os.cpu_count()))
        print("%-28s %12s %12s %8s" % ("", "service", "MiniDLNA", "ratio"))
        for label, mode, key, faster in (("whole: ms per listing", "whole", "ms", "lower"),
                                         ("whole: us per object", "whole", "us per object", "lower"),
                                         ("whole: CPU ms per listing", "whole", "cpu ms", "lower"),
                                         ("whole again: ms per listing", "again", "ms", "lower"),
                                         ("whole again: us per object", "again", "us per object",
                                          "lower"),
                                         ("pages: ms per page", "pages", "ms", "lower"),
                                         ("pages: pages/s", "pages", "pages/s", "higher"),
                                         ("pages: CPU ms per page", "pages", "cpu ms", "lower")):
            mine, floor = median("service", mode, key), median("MiniDLNA", mode, key)
            ratio = (floor / mine if faster == "lower" else mine / floor) if mine and floor else 0
            print("%-28s %12.2f %12.2f %8.2f" % (label, mine, floor, ratio))
        print("%-28s %12.2f %12.2f %8.2f" % (
            "very first: us per object", first["service"]["ms"] * 1e3 / first["service"]["returned"],
            first["MiniDLNA"]["ms"] * 1e3 / first["MiniDLNA"]["returned"],
            (first["MiniDLNA"]["ms"] / first["MiniDLNA"]["returned"])
            / (first["service"]["ms"] / first["service"]["returned"])))
        for name, browser in (("service", ours), ("MiniDLNA", theirs)):
            whole = rounds[name][-1]["whole"]
            print("%s: RequestedCount 0 returns %d of %d (%d KB); all pages return %d; reconnects %d"
                  % (name, whole["returned"], whole["total"], whole["bytes"] // 1024,
                     rounds[name][-1]["pages"]["returned"], browser.reconnects))
        print("ratio: how many times MiniDLNA's speed ours is (a whole listing per object, since "
              "MiniDLNA may return fewer); target >= 1")
    finally:
        stop(service)
        stop(minidlna)
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--videos", type=int, default=10000)
    parser.add_argument("--index-seconds", type=int, default=900)
    args = parser.parse_args()
    if "LAN_SERVER_NS" not in os.environ:
        # Both servers go into a namespace of their own, the client stays in the other one.
        command = ["bash", str(NETNS_RUN), "--pairs", "2", sys.executable, __file__, *sys.argv[1:]]
        os.execvp("bash", command)
    run(args)


if __name__ == "__main__":
    main()
