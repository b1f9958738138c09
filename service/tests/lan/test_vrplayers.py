#!/usr/bin/python3
"""The VR players' own interfaces (DeoVR's and HereSphere's JSON) and what the players send back,
as a player on the LAN meets them: the service in the server namespace, urllib, ffprobe and
GUPnP's control point in the client one.

    netns-run.sh --pairs 2 /usr/bin/python3 test_vrplayers.py SERVICE_BINARY
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest
import urllib.request
import xml.etree.ElementTree as ET

import test_upnp as lan  # takes the service binary from the arguments

DEO = {  # name: screenType, stereoMode, is3d
    'flat.mp4': ('flat', 'off', False),
    'Beach_180_LR.mp4': ('dome', 'sbs', True),
    'Globe_360_TB.mp4': ('sphere', 'tb', True),
    'Declared.mkv': ('flat', 'sbs', True),
    'Rig_MKX200.mp4': ('mkx200', 'sbs', True),
}
HERE = {  # name: projection, stereo, fov, lens
    'flat.mp4': ('perspective', 'mono', None, 'Linear'),
    'Beach_180_LR.mp4': ('equirectangular', 'sbs', 180, 'Linear'),
    'Globe_360_TB.mp4': ('equirectangular360', 'tb', 360, 'Linear'),
    'Declared.mkv': ('perspective', 'sbs', None, 'Linear'),
    'Rig_MKX200.mp4': ('fisheye', 'sbs', 200, 'MKX200'),
}


def request(url, body=None, headers=None):
    data = json.dumps(body).encode() if body is not None else None
    req = urllib.request.Request(url, data=data, headers=headers or {},
                                 method='POST' if data is not None else 'GET')
    try:
        with urllib.request.urlopen(req, timeout=20) as reply:
            return reply.status, dict(reply.headers), reply.read()
    except urllib.error.HTTPError as error:
        return error.code, dict(error.headers), error.read()


class VrPlayersTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory()
        cls.folder = os.path.join(cls.temp.name, 'VR')
        os.makedirs(cls.folder)
        for name in DEO:
            extra = ['-metadata:s:v:0', 'stereo_mode=left_right'] if name.endswith('.mkv') else []
            lan.make_clip(os.path.join(cls.folder, name), 60 if name == 'flat.mp4' else 2, extra)
        with open(os.path.join(cls.folder, 'Beach_180_LR.srt'), 'w') as srt:
            srt.write('1\n00:00:00,000 --> 00:00:01,000\nHello\n')
        cls.service = lan.Service(os.path.join(cls.temp.name, 'data'))
        imported = cls.service.control('POST', '/files', {'path': cls.folder, 'depth': 1, 'pid': 0})
        assert imported['code'] == 0, imported
        cls.points = lan.ControlPoint()

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        cls.temp.cleanup()

    def base(self, address=lan.SERVER):
        return 'http://%s:%d' % (address, self.service.lan_port)

    def videos(self):
        """HereSphere's per-video URLs, by file name."""
        status, headers, body = request(self.base() + '/heresphere', {})
        self.assertEqual((status, headers.get('HereSphere-JSON-Version')), (200, '1'))
        urls = [u for section in json.loads(body)['library'] for u in section['list']]
        names = {}
        for url in urls:
            video = json.loads(request(url, {'needsMediaSource': True})[2])
            names[os.path.basename(video['media'][0]['sources'][0]['url'])] = url
        return names

    def browse_video(self, name):
        udn = open(os.path.join(self.service.data, 'device-uuid')).read().strip()
        cds = self.points.device(udn).get_service(lan.CDS)
        folder = next(o for o in lan.browse(cds, '0')['objects'] if lan.title(o) == 'VR')
        return next(o for o in lan.browse(cds, folder.get('id'))['objects']
                    if lan.title(o).startswith(name.rsplit('.', 1)[0])), cds

    def test_layouts_covers_and_urls(self):
        status, _, body = request(self.base() + '/deovr')
        self.assertEqual(status, 200)
        deovr = json.loads(body)
        self.assertEqual(deovr['authorized'], '1')
        self.assertEqual([s['name'] for s in deovr['scenes']], ['VR'])
        for scene in deovr['scenes'][0]['list']:
            video = json.loads(request(scene['video_url'])[2])
            source = video['encodings'][0]['videoSources'][0]
            name = urllib.parse.unquote(os.path.basename(source['url']))
            self.assertEqual((video['screenType'], video['stereoMode'], video['is3d']), DEO[name])
            probe = subprocess.run(['ffprobe', '-v', 'error', '-show_entries', 'format=duration',
                                    '-of', 'csv=p=0', source['url']], capture_output=True)
            self.assertEqual(probe.returncode, 0, source['url'])
            self.assertEqual(request(video['thumbnailUrl'])[2][:3], b'\xff\xd8\xff', name)
        for name, url in self.videos().items():
            video = json.loads(request(url, {})[2])
            self.assertEqual((video['projection'], video['stereo'], video.get('fov'),
                              video['lens']), HERE[name], name)
            self.assertEqual(request(video['thumbnailImage'])[2][:3], b'\xff\xd8\xff', name)
            # The list view asks without the sources.
            self.assertNotIn('media', json.loads(request(url, {'needsMediaSource': False})[2]))

    def test_urls_name_the_address_asked(self):
        other = lan.SERVER.rsplit('.', 1)[0] + '.10'
        library = json.loads(request(self.base(other) + '/deovr')[2])
        urls = [s['video_url'] for s in library['scenes'][0]['list']]
        self.assertTrue(urls and all(u.startswith(self.base(other) + '/') for u in urls), urls)

    def test_sidecar_subtitles_everywhere(self):
        video = json.loads(request(self.videos()['Beach_180_LR.mp4'], {})[2])
        subtitle = video['subtitles'][0]
        self.assertEqual(subtitle['name'], 'Beach_180_LR.srt')
        status, headers, body = request(subtitle['url'])
        self.assertEqual((status, headers['Content-Type'], body[:1]), (200, 'text/srt', b'1'))
        item, _ = self.browse_video('Beach_180_LR.mp4')
        # The same file, at the address the control point found the server on.
        path = urllib.parse.urlsplit(subtitle['url']).path
        res = [r for r in item.findall(lan.DIDL + 'res') if ':text/srt:' in r.get('protocolInfo')]
        self.assertEqual([urllib.parse.urlsplit(r.text).path for r in res], [path])
        caption = item.find('{http://www.sec.co.kr/}CaptionInfoEx')
        self.assertEqual(urllib.parse.urlsplit(caption.text).path, path)

    def test_nothing_deletes_a_file(self):
        url = self.videos()['Globe_360_TB.mp4']
        status, headers, _ = request(url, {'deleteFile': True})
        self.assertEqual((status, headers.get('HereSphere-JSON-Version')), (403, '1'))
        self.assertTrue(os.path.exists(os.path.join(self.folder, 'Globe_360_TB.mp4')))

    def test_where_playback_stopped(self):
        url = self.videos()['flat.mp4']
        events = url.replace('/heresphere/', '/heresphere/events/')
        for event, time in ((0, 0), (1, 0), (2, 42000), (3, 42000)):
            self.assertEqual(request(events, {'event': event, 'time': time})[0], 200)
        item, cds = self.browse_video('flat.mp4')
        self.assertEqual(item.find(lan.UPNP + 'lastPlaybackPosition').text, '0:00:42.000')
        self.assertEqual(item.find(lan.UPNP + 'playbackCount').text, '1')
        # A DLNA player's bookmark, the same way.
        lan.call(cds, 'X_SetBookmark', {'CategoryType': 0, 'RID': 0, 'ObjectID': item.get('id'),
                                        'PosSecond': 30}, {})
        item, _ = self.browse_video('flat.mp4')
        self.assertEqual(item.find(lan.UPNP + 'lastPlaybackPosition').text, '0:00:30.000')

    def test_zz_favourite_and_rating_kept_across_restarts(self):
        name = 'Rig_MKX200.mp4'
        video = json.loads(request(self.videos()[name], {'isFavorite': True, 'rating': 4.5})[2])
        self.assertEqual((video['isFavorite'], video['rating']), (True, 4.5))
        self.service.stop()
        VrPlayersTest.service = lan.Service(self.service.data)
        video = json.loads(request(self.videos()[name], {'needsMediaSource': False})[2])
        self.assertEqual((video['isFavorite'], video['rating']), (True, 4.5))


if __name__ == '__main__':
    if not (lan.SERVICE and lan.NS):
        sys.exit('run me through netns-run.sh with the service binary')
    unittest.main(verbosity=2)
