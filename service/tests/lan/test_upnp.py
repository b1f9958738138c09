#!/usr/bin/python3
"""The media service as a headset's player meets it on the LAN: found by SSDP, browsed through
GUPnP's own control point, played with curl and ffprobe. Runs in the client namespace that
netns-run.sh makes; the service runs in the server namespace.

    netns-run.sh /usr/bin/python3 test_upnp.py SERVICE_BINARY
"""
import gi
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET
from http.server import BaseHTTPRequestHandler, HTTPServer

gi.require_version('GUPnP', '1.6')
gi.require_version('GSSDP', '1.6')
from gi.repository import Gio, GLib, GObject, GSSDP, GUPnP  # noqa: E402

SERVICE = sys.argv.pop(1) if len(sys.argv) > 1 else None
NS = os.environ.get('LAN_SERVER_NS')
SERVER = os.environ.get('LAN_SERVER_ADDR')
CLIENT = os.environ.get('LAN_CLIENT_ADDR')
IFACE = os.environ.get('LAN_CLIENT_IF')
MEDIA_SERVER = 'urn:schemas-upnp-org:device:MediaServer:1'
CDS = 'urn:schemas-upnp-org:service:ContentDirectory:1'
CM = 'urn:schemas-upnp-org:service:ConnectionManager:1'
DIDL = '{urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/}'
DC = '{http://purl.org/dc/elements/1.1/}'
UPNP = '{urn:schemas-upnp-org:metadata-1-0/upnp/}'
DEVICE = '{urn:schemas-upnp-org:device-1-0}'


class Service:
    """The real service in the server namespace, its control interface reached there."""

    def __init__(self, data):
        self.data = data
        self.process = subprocess.Popen(
            ['ip', 'netns', 'exec', NS, SERVICE, '--port', '0', '--lan-port', '0',
             '--data-dir', data], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            env={k: v for k, v in os.environ.items() if k != 'VELNOR_NO_UPNP'})
        ports = {}
        while len(ports) < 2:
            line = self.process.stdout.readline().decode()
            if not line:
                raise RuntimeError('the service did not start')
            name, value = line.split()
            ports[name] = int(value)
        self.port, self.lan_port = ports['control-port'], ports['lan-port']

    def control(self, method, path, body=None):
        args = ['ip', 'netns', 'exec', NS, 'curl', '-s', '-X', method,
                '-H', 'Content-Type: application/json; charset=utf-8',
                'http://127.0.0.1:%d%s' % (self.port, path)]
        if body is not None:
            args[-1:-1] = ['--data-binary', json.dumps(body)]
        return json.loads(subprocess.run(args, check=True, capture_output=True).stdout)

    def stop(self):
        self.process.terminate()
        self.process.wait(10)
        self.process.stdout.close()


class Ssdp:
    """A plain SSDP socket on the client side, to see exactly what goes over the wire."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(('', 1900))
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                             socket.inet_aton('239.255.255.250') + socket.inet_aton(CLIENT))
        # Answers to a search come back to the port it was sent from; the control point holds
        # port 1900 too and would take them.
        self.searcher = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
        self.searcher.bind((CLIENT, 0))
        self.searcher.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                                 socket.inet_aton(CLIENT))

    def search(self, target):
        self.searcher.sendto(('M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n'
                          'MAN: "ssdp:discover"\r\nMX: 1\r\nST: %s\r\n\r\n' % target).encode(),
                         ('239.255.255.250', 1900))

    def messages(self, seconds, until=None, sock=None):
        """(first line, headers) of every message within seconds, or up to one that until likes."""
        sock = sock or self.sock
        found, end = [], time.time() + seconds
        while time.time() < end:
            sock.settimeout(max(0.01, end - time.time()))
            try:
                data = sock.recv(8192).decode(errors='replace')
            except socket.timeout:
                break
            lines = data.split('\r\n')
            headers = {k.strip().upper(): v.strip()
                       for k, _, v in (line.partition(':') for line in lines[1:]) if k}
            found.append((lines[0], headers))
            if until and until(headers):
                break
        return found


def http(url, method='GET', headers=None, data=None):
    request = urllib.request.Request(url, method=method, headers=headers or {}, data=data)
    try:
        with urllib.request.urlopen(request, timeout=10) as reply:
            return reply.status, dict(reply.headers), reply.read()
    except urllib.error.HTTPError as error:
        return error.code, dict(error.headers), error.read()


class ControlPoint:
    """GUPnP's control point: what a player built on it sees of the server."""

    def __init__(self):
        self.context = GUPnP.Context.new_for_address(Gio.InetAddress.new_from_string(CLIENT), 0,
                                                     GSSDP.UDAVersion.VERSION_1_0)
        self.point = GUPnP.ControlPoint.new(self.context, MEDIA_SERVER)
        self.devices = {}
        self.point.connect('device-proxy-available',
                           lambda _, proxy: self.devices.__setitem__(proxy.get_udn(), proxy))
        self.point.connect('device-proxy-unavailable',
                           lambda _, proxy: self.devices.pop(proxy.get_udn(), None))
        self.point.set_active(True)

    def wait(self, condition, seconds=10):
        context, end = GLib.MainContext.default(), time.time() + seconds
        while not condition() and time.time() < end:
            context.iteration(False) or time.sleep(0.01)
        return condition()

    def device(self, udn):
        self.wait(lambda: udn in self.devices)
        return self.devices.get(udn)


def call(service, name, inputs, outputs):
    action = GUPnP.ServiceProxyAction.new_from_list(name, list(inputs), list(inputs.values()))
    service.call_action(action, None)
    ok, values = action.get_result_list(list(outputs), list(outputs.values()))
    return dict(zip(outputs, values))


def browse(service, object_id, flag='BrowseDirectChildren', start=0, count=0, sort=''):
    reply = call(service, 'Browse',
                 {'ObjectID': object_id, 'BrowseFlag': flag, 'Filter': '*',
                  'StartingIndex': start, 'RequestedCount': count, 'SortCriteria': sort},
                 {'Result': GObject.TYPE_STRING, 'NumberReturned': GObject.TYPE_UINT,
                  'TotalMatches': GObject.TYPE_UINT, 'UpdateID': GObject.TYPE_UINT})
    reply['objects'] = list(ET.fromstring(reply['Result']))
    return reply


def title(node):
    return node.find(DC + 'title').text


def raw_browse(service, object_id, flag='BrowseDirectChildren'):
    """The SOAP reply's bytes as they come: what a player with a parser of its own reads."""
    body = ('<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/">'
            '<s:Body><u:Browse xmlns:u="%s"><ObjectID>%s</ObjectID><BrowseFlag>%s</BrowseFlag>'
            '<Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount>'
            '<SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>'
            % (CDS, object_id, flag)).encode()
    status, _, reply = http(service.get_control_url(), 'POST', {
        'Content-Type': 'text/xml; charset="utf-8"', 'SOAPACTION': '"%s#Browse"' % CDS}, body)
    assert status == 200, status
    return reply


def jpeg_size(data):
    """(width, height) from a JPEG's frame header."""
    at = 2
    while at + 9 < len(data):
        marker, length = data[at + 1], int.from_bytes(data[at + 2:at + 4], 'big')
        if marker in (0xC0, 0xC1, 0xC2, 0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF):
            return (int.from_bytes(data[at + 7:at + 9], 'big'),
                    int.from_bytes(data[at + 5:at + 7], 'big'))
        at += 2 + length
    raise ValueError('no frame header')


# The largest picture each DLNA JPEG profile allows.
JPEG_PROFILES = {'JPEG_TN': (160, 160), 'JPEG_SM': (640, 480), 'JPEG_MED': (1024, 768),
                 'JPEG_LRG': (4096, 4096)}
DLNA_METADATA = '{urn:schemas-dlna-org:metadata-1-0/}'


def make_clip(path, seconds, extra=()):
    subprocess.run(['ffmpeg', '-v', 'error', '-y', '-f', 'lavfi', '-i',
                    'testsrc=size=320x180:rate=25:duration=%d' % seconds, *extra, '-c:v',
                    'libx264', '-preset', 'ultrafast', '-pix_fmt', 'yuv420p', path], check=True)


class MediaServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory()
        root = cls.temp.name
        cls.folder = os.path.join(root, 'Videos')
        os.makedirs(os.path.join(cls.folder, 'Trips'))
        make_clip(os.path.join(cls.folder, 'Beach & Sun_180_LR.mp4'), 10)
        # A file with a stereo layout its name does not tell.
        make_clip(os.path.join(cls.folder, 'Concert.mkv'), 2,
                  ['-metadata:s:v:0', 'stereo_mode=top_bottom'])
        for i in range(25):
            os.link(os.path.join(cls.folder, 'Concert.mkv'),
                    os.path.join(cls.folder, 'Trips', 'clip%02d.mkv' % i))
        # Names whose order players show as we give it, and one a player must show as it is.
        cls.order = os.path.join(root, 'Order')
        os.makedirs(os.path.join(cls.order, 'zz folder'))
        make_clip(os.path.join(cls.order, 'a.mkv'), 1)
        for name in ('B.mkv', 'clip 10.mkv', 'clip 2.mkv', "Sam's trip.mkv", 'zz folder/in.mkv'):
            os.link(os.path.join(cls.order, 'a.mkv'), os.path.join(cls.order, name))
        cls.ssdp = Ssdp()
        cls.service = Service(os.path.join(root, 'data'))
        with open(os.path.join(root, 'data', 'device-uuid')) as udn:
            cls.udn = udn.read().strip()
        cls.points = ControlPoint()
        cls.device = cls.points.device(cls.udn)
        assert cls.device, 'the control point never found the media server'
        cls.cds = cls.device.get_service(CDS)
        for folder in (cls.folder, cls.order):
            imported = cls.service.control('POST', '/files', {'path': folder, 'filters': [
                '.mp4', '.mkv'], 'depth': 0, 'pid': 0})
            assert imported['code'] == 0, imported

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        cls.temp.cleanup()

    def test_answers_every_search_target(self):
        targets = ['ssdp:all', 'upnp:rootdevice', self.udn, MEDIA_SERVER, CDS, CM]
        for target in targets:
            self.ssdp.search(target)
        answers = self.ssdp.messages(2.5, sock=self.ssdp.searcher)
        replies = [h for line, h in answers if line.startswith('HTTP/1.1 200')]
        for target in targets[1:]:
            self.assertTrue(any(h.get('ST') == target for h in replies), target)
        for headers in replies:
            self.assertTrue(headers['LOCATION'].startswith('http://%s:' % SERVER))
            age = int(re.search(r'max-age=(\d+)', headers['CACHE-CONTROL']).group(1))
            self.assertLessEqual(age, 1800)

    def test_converted_stream_beside_the_original(self):
        old = os.path.join(self.temp.name, 'Old')
        os.makedirs(old)
        subprocess.run(['ffmpeg', '-v', 'error', '-y', '-f', 'lavfi', '-i',
                        'testsrc=size=320x240:rate=25:duration=4', '-f', 'lavfi', '-i',
                        'sine=duration=4', '-c:v', 'wmv2', '-c:a', 'wmav2',
                        os.path.join(old, 'Home movie.wmv')], check=True)
        self.assertEqual(self.service.control('POST', '/files', {
            'path': old, 'filters': ['.wmv'], 'depth': 1, 'pid': 0})['code'], 0)
        folder = next(o for o in browse(self.cds, '0')['objects'] if title(o) == 'Old')
        video = browse(self.cds, folder.get('id'))['objects'][0]
        res = video.findall(DIDL + 'res')
        # The converted stream first, for players that take the first they can play; the
        # original beside it.
        self.assertTrue(res[0].get('protocolInfo').startswith('http-get:*:video/mpeg:'),
                        res[0].get('protocolInfo'))
        self.assertIn('DLNA.ORG_OP=10;DLNA.ORG_CI=1', res[0].get('protocolInfo'))
        self.assertEqual((res[0].get('duration')[:8], res[0].get('resolution')),
                         ('0:00:04.', '320x240'))
        self.assertTrue(res[0].text.endswith('/t/0/Home%20movie.ts'), res[0].text)
        self.assertTrue(res[1].get('protocolInfo').startswith('http-get:*:video/x-ms-wmv:'))
        probe = subprocess.run(['ffprobe', '-v', 'error', '-select_streams', 'v:0', '-show_entries',
                                'stream=codec_name', '-of', 'csv=p=0', res[0].text],
                               capture_output=True, text=True)
        self.assertEqual(probe.stdout.split()[0], 'h264')
        protocols = call(self.device.get_service(CM), 'GetProtocolInfo', {},
                         {'Source': GObject.TYPE_STRING})['Source']
        self.assertIn('http-get:*:video/mpeg:DLNA.ORG_PN=AVC_TS_MP_HD_AAC_MULT5_ISO', protocols)

    def test_description(self):
        status, _, body = http(self.device.get_location())
        self.assertEqual(status, 200)
        root = ET.fromstring(body)
        self.assertIsNone(root.find(DEVICE + 'URLBase'))
        device = root.find(DEVICE + 'device')
        self.assertEqual(device.find(DEVICE + 'UDN').text, self.udn)
        self.assertEqual(device.find(DEVICE + 'friendlyName').text,
                         self.service.control('GET', '/settings/')['data']['deviceName'])
        urls = [e.text for e in root.iter() if e.tag.endswith(('URL', '}url'))]
        self.assertTrue(urls and all(u.startswith('/upnp/') for u in urls), urls)
        base = re.match(r'http://[^/]+', self.device.get_location()).group(0)
        for icon in device.iter(DEVICE + 'icon'):
            status, headers, png = http(base + icon.find(DEVICE + 'url').text)
            self.assertEqual((status, png[:4]), (200, b'\x89PNG'))
            side = int.from_bytes(png[16:20], 'big')
            self.assertEqual(side, int(icon.find(DEVICE + 'width').text))
            # Bits a pixel: the bit depth times the channels of the PNG's colour type.
            channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[png[25]]
            self.assertEqual(png[24] * channels, int(icon.find(DEVICE + 'depth').text))

    def test_browses_the_tree(self):
        top = browse(self.cds, '0')
        folder = next(o for o in top['objects'] if title(o) == 'Videos')
        self.assertEqual(folder.tag, DIDL + 'container')
        self.assertEqual(folder.find(UPNP + 'class').text, 'object.container.storageFolder')
        self.assertEqual(folder.get('parentID'), '0')
        inside = browse(self.cds, folder.get('id'))
        self.assertEqual(folder.get('childCount'), str(inside['TotalMatches']))
        titles = sorted(title(o) for o in inside['objects'])
        # The name's own layout stays; the file's declared one is added.
        self.assertEqual(titles, ['Beach & Sun_180_LR', 'Concert_TB', 'Trips'])
        video = next(o for o in inside['objects'] if title(o) == 'Beach & Sun_180_LR')
        self.assertEqual(video.find(UPNP + 'class').text, 'object.item.videoItem')
        res = video.findall(DIDL + 'res')
        media = next(r for r in res if ':video/mp4:' in r.get('protocolInfo'))
        self.assertEqual(media.get('protocolInfo'), 'http-get:*:video/mp4:DLNA.ORG_OP=01;'
                         'DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000')
        self.assertEqual(media.get('resolution'), '320x180')
        self.assertEqual(media.get('duration'), '0:00:10.000')
        self.assertTrue(media.text.startswith('http://%s:%d/media/' % (SERVER,
                                                                        self.service.lan_port)))
        self.assertTrue(media.text.endswith('/Beach%20%26%20Sun_180_LR.mp4'), media.text)
        self.assertTrue(any(':image/jpeg:' in r.get('protocolInfo') for r in res))

        # A player plays it: the whole file, a range, and the container's own length.
        status, headers, body = http(media.text)
        self.assertEqual((status, len(body)), (200, int(media.get('size'))))
        self.assertEqual(headers['transferMode.dlna.org'], 'Streaming')
        status, headers, body = http(media.text, 'HEAD')
        self.assertEqual((status, body, headers['Content-Length']), (200, b'', media.get('size')))
        self.assertIn('DLNA.ORG_OP=01', headers['contentFeatures.dlna.org'])
        status, _, body = http(media.text, headers={'Range': 'bytes=100-199'})
        self.assertEqual((status, len(body)), (206, 100))
        probe = subprocess.run(['ffprobe', '-v', 'error', '-show_entries', 'format=duration',
                                '-of', 'csv=p=0', media.text], capture_output=True, text=True)
        self.assertAlmostEqual(float(probe.stdout), 10.0, delta=0.2)
        art = video.find(UPNP + 'albumArtURI')
        status, headers, jpeg = http(art.text)
        self.assertEqual((status, jpeg[:2]), (200, b'\xff\xd8'))
        # The cover's profile, wherever it is named, allows the cover's real size.
        profile = art.get(DLNA_METADATA + 'profileID')
        width, height = jpeg_size(jpeg)
        self.assertGreater(width, 160)
        limit = JPEG_PROFILES[profile]
        self.assertTrue(width <= limit[0] and height <= limit[1], (profile, width, height))
        picture = next(r for r in res if ':image/jpeg:' in r.get('protocolInfo'))
        self.assertIn('DLNA.ORG_PN=%s;' % profile, picture.get('protocolInfo'))
        self.assertIn('DLNA.ORG_PN=%s;' % profile, headers['contentFeatures.dlna.org'])
        protocols = call(self.device.get_service(CM), 'GetProtocolInfo', {},
                         {'Source': GObject.TYPE_STRING})['Source']
        self.assertIn('http-get:*:image/jpeg:DLNA.ORG_PN=%s' % profile, protocols.split(','))

    def test_pages_and_metadata(self):
        folder = next(o for o in browse(self.cds, '0')['objects'] if title(o) == 'Videos')
        trips = next(o for o in browse(self.cds, folder.get('id'))['objects']
                     if title(o) == 'Trips')
        whole = browse(self.cds, trips.get('id'))
        self.assertEqual((whole['NumberReturned'], whole['TotalMatches']), (25, 25))
        pages = [browse(self.cds, trips.get('id'), start=s, count=10) for s in (0, 10, 20, 30)]
        self.assertEqual([p['NumberReturned'] for p in pages], [10, 10, 5, 0])
        self.assertEqual([o.get('id') for p in pages for o in p['objects']],
                         [o.get('id') for o in whole['objects']])
        backwards = browse(self.cds, trips.get('id'), count=3, sort='-dc:title')
        self.assertEqual([title(o) for o in backwards['objects']],
                         ['clip24_TB', 'clip23_TB', 'clip22_TB'])

        root = browse(self.cds, '0', 'BrowseMetadata')['objects']
        self.assertEqual([(o.get('id'), o.get('parentID')) for o in root], [('0', '-1')])
        item = whole['objects'][0]
        alone = browse(self.cds, item.get('id'), 'BrowseMetadata')
        self.assertEqual(ET.tostring(alone['objects'][0]), ET.tostring(item))

    def test_listing_order(self):
        # Players that keep the server's order show it: folders first, then names as people
        # sort them, on every page alike (pages of one and of four are read differently).
        order = next(o for o in browse(self.cds, '0')['objects'] if title(o) == 'Order')
        expected = ['zz folder', 'a', 'B', 'clip 2', 'clip 10', "Sam's trip"]
        paged = lambda sort, count: [title(o) for start in range(0, 8, count) for o in browse(
            self.cds, order.get('id'), start=start, count=count, sort=sort)['objects']]
        self.assertEqual([title(o) for o in browse(self.cds, order.get('id'))['objects']],
                         expected)
        self.assertEqual(paged('+dc:title', 1), expected)
        self.assertEqual(paged('-dc:title', 4), expected[:1] + expected[:0:-1])

    def test_faults_leave_the_server_running(self):
        for object_id in ('999999', '-1', 'abc', ''):
            with self.assertRaises(GLib.Error) as fault:
                browse(self.cds, object_id)
            self.assertIn(fault.exception.code, (402, 701), object_id)
        with self.assertRaises(GLib.Error) as fault:
            call(self.cds, 'DestroyObject', {'ObjectID': '1'}, {})
        self.assertEqual(fault.exception.code, 401)
        control = self.device.get_service(CDS).get_control_url()
        for body in (b'<s:Envelope', b'\x00' * 100, b'<?xml version="1.0"?><x/>'):
            status, _, _ = http(control, 'POST', {
                'Content-Type': 'text/xml; charset="utf-8"',
                'SOAPACTION': '"%s#Browse"' % CDS}, body)
            self.assertGreaterEqual(status, 400)
        # A page in a browser reaching the server through a name it points at this PC is not
        # answered, however right its request.
        browse_body = ('<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/'
                       'envelope/"><s:Body><u:Browse xmlns:u="%s"><ObjectID>0</ObjectID><BrowseFlag>'
                       'BrowseDirectChildren</BrowseFlag><Filter>*</Filter><StartingIndex>0'
                       '</StartingIndex><RequestedCount>0</RequestedCount><SortCriteria>'
                       '</SortCriteria></u:Browse></s:Body></s:Envelope>' % CDS).encode()
        soap = {'Content-Type': 'text/xml; charset="utf-8"', 'SOAPACTION': '"%s#Browse"' % CDS}
        host = urllib.parse.urlsplit(control).netloc
        for name, expected in ((host, 200), ('rebound.example', 403)):
            status, _, _ = http(control, 'POST', dict(soap, Host=name), browse_body)
            self.assertEqual(status, expected, name)
        self.assertEqual(http(self.device.get_location(), 'GET', {'Host': 'rebound.example'})[0], 403)
        self.assertGreaterEqual(browse(self.cds, '0')['TotalMatches'], 1)
        protocols = call(self.device.get_service(CM), 'GetProtocolInfo', {},
                         {'Source': GObject.TYPE_STRING})['Source']
        self.assertIn('http-get:*:video/mp4:*', protocols)

    def test_apostrophes_read_as_they_are(self):
        # Some players show "&apos;" as it is: the DIDL and the description carry the character.
        self.service.control('PUT', '/settings/', {'deviceName': "Sam's PC"})
        self.assertTrue(self.points.wait(
            lambda: b"<friendlyName>Sam's PC</friendlyName>" in http(self.device.get_location())[2]))
        order = next(o for o in browse(self.cds, '0')['objects'] if title(o) == 'Order')
        for object_id, flag, text in (('0', 'BrowseMetadata', "Sam's PC"),
                                      (order.get('id'), 'BrowseDirectChildren', "Sam's trip")):
            raw = raw_browse(self.cds, object_id, flag)
            self.assertIn(text.encode(), raw)
            self.assertNotIn(b'&apos;', raw)
            self.assertNotIn(b'&amp;apos;', raw)
        self.assertIn("Sam's PC", [title(o) for o in browse(self.cds, '0', 'BrowseMetadata')[
            'objects']])
        self.assertIn("Sam's trip", [title(o) for o in browse(self.cds, order.get('id'))[
            'objects']])

    def test_http10_without_host(self):
        # Old renderers speak HTTP/1.0 and name no Host; both servers answer them.
        description = urllib.parse.urlsplit(self.device.get_location())
        for port, path, expected in ((self.service.lan_port, '/api/info', b'"deviceName"'),
                                     (description.port, description.path, b'<friendlyName>')):
            with socket.create_connection((SERVER, port), timeout=10) as sock:
                sock.sendall(('GET %s HTTP/1.0\r\n\r\n' % path).encode())
                reply = b''
                while True:
                    data = sock.recv(65536)
                    if not data:
                        break
                    reply += data
            self.assertRegex(reply.split(b'\r\n', 1)[0], rb'^HTTP/1\.[01] 200 ', path)
            self.assertIn(expected, reply)

    def test_where_to_point_a_player(self):
        # The assistant shows the first address; the front page names the one the browser used.
        self.assertEqual(self.service.control('GET', '/lan/addresses')['data'],
                         {'port': self.service.lan_port, 'addresses': [SERVER]})
        base = 'http://%s:%d' % (SERVER, self.service.lan_port)
        for host in (None, '192.0.2.7:8080'):
            status, headers, page = http(base + '/', headers={'Host': host} if host else {})
            self.assertEqual(status, 200)
            self.assertTrue(headers['Content-Type'].startswith('text/html'))
            named = 'http://%s' % host if host else base
            for player in ('deovr', 'heresphere'):
                self.assertIn(('href="%s/%s"' % (named, player)).encode(), page)
            self.assertIn('同一网络'.encode(), page)

    def update_id(self):
        return call(self.cds, 'GetSystemUpdateID', {}, {'Id': GObject.TYPE_UINT})['Id']

    def subscribe(self):
        """The SystemUpdateIDs and ContainerUpdateIDs evented to a subscriber from now on."""
        evented, containers = [], []

        class Events(BaseHTTPRequestHandler):
            def do_NOTIFY(self):
                body = self.rfile.read(int(self.headers.get('Content-Length', 0)))
                found = re.search(rb'<SystemUpdateID>(\d+)</SystemUpdateID>', body)
                if found:
                    evented.append(int(found.group(1)))
                found = re.search(rb'<ContainerUpdateIDs>([^<]*)</ContainerUpdateIDs>', body)
                if found:
                    containers.append(found.group(1).decode())
                self.send_response(200)
                self.end_headers()

            def log_message(self, *args):
                pass

        listener = HTTPServer((CLIENT, 0), Events)
        threading.Thread(target=listener.serve_forever, daemon=True).start()
        self.addCleanup(listener.shutdown)
        status, headers, _ = http(self.cds.get_event_subscription_url(), 'SUBSCRIBE', {
            'CALLBACK': '<http://%s:%d/>' % (CLIENT, listener.server_port), 'NT': 'upnp:event',
            'TIMEOUT': 'Second-300'})
        self.assertEqual(status, 200)
        self.assertTrue(headers['SID'].startswith('uuid:'))
        return evented, containers

    def test_changes_reach_players(self):
        update_id = self.update_id
        evented, containers = self.subscribe()
        self.assertTrue(self.points.wait(lambda: evented))
        before = update_id()
        # A refresh that finds the folder as it was changes nothing a player caches by.
        self.assertEqual(self.service.control('POST', '/files', {
            'path': self.folder, 'filters': ['.mp4', '.mkv'], 'depth': 1, 'pid': 0})['code'], 0)
        self.assertEqual(update_id(), before)
        top = lambda: [title(o) for o in browse(self.cds, '0')['objects']]
        self.assertNotIn('Extra', top())
        extra = os.path.join(self.temp.name, 'Extra.mp4')
        make_clip(extra, 1)
        self.assertEqual(self.service.control('POST', '/files', {
            'path': extra, 'filters': ['.mp4'], 'depth': 0, 'pid': 0})['code'], 0)
        self.assertGreater(update_id(), before)
        # A listing asked for again is read again once the library has changed.
        self.assertIn('Extra', top())
        self.assertTrue(self.points.wait(lambda: evented and evented[-1] > before), evented)
        # The top level changed, and nothing else: "0" and its update id, in the same event.
        self.assertEqual(containers[-1], '0,%d' % evented[-1])

        # A new name: said at once, shown in the description.
        self.ssdp.messages(0.3)
        self.service.control('PUT', '/settings/', {'deviceName': 'Living Room PC'})
        said = self.ssdp.messages(3, lambda h: h.get('NTS') == 'ssdp:alive')
        self.assertTrue(any(h.get('NTS') == 'ssdp:alive' for _, h in said))
        _, _, body = http(self.device.get_location())
        self.assertIn(b'<friendlyName>Living Room PC</friendlyName>', body)

    def test_zy_a_new_file_names_its_folder_and_the_one_above(self):
        evented, containers = self.subscribe()
        self.assertTrue(self.points.wait(lambda: evented))
        videos = next(o for o in browse(self.cds, '0')['objects'] if title(o) == 'Videos')
        trips = next(o for o in browse(self.cds, videos.get('id'))['objects']
                     if title(o) == 'Trips')
        before = self.update_id()
        make_clip(os.path.join(self.folder, 'Trips', 'new.mkv'), 1)
        # Trips' own time may change in a rescan of its own while the file is being written;
        # the event that names Trips is the one that adds the file.
        named = lambda: [c for c in containers if trips.get('id') in c.split(',')[0::2]]
        self.assertTrue(self.points.wait(named), containers)
        update = int(named()[0].split(',')[1])
        self.assertGreater(update, before)
        # Trips holds one more; Videos shows Trips' new count. Nothing else changed.
        self.assertEqual(named()[0], '%s,%d,%s,%d' % (videos.get('id'), update,
                                                      trips.get('id'), update))

    def test_zz_goodbye_and_same_device_after_restart(self):
        self.ssdp.messages(0.2)
        self.service.stop()
        said = self.ssdp.messages(2, lambda h: h.get('NTS') == 'ssdp:byebye')
        self.assertTrue(any(h.get('NTS') == 'ssdp:byebye' and h.get('USN', '').startswith(
            self.udn) for _, h in said), said)
        MediaServerTest.service = Service(self.service.data)
        self.assertEqual(self.service.control('GET', '/settings/')['code'], 0)
        self.assertIsNotNone(self.points.device(self.udn))


if __name__ == '__main__':
    if not (SERVICE and NS):
        sys.exit('run me through netns-run.sh with the service binary')
    unittest.main(verbosity=2)
