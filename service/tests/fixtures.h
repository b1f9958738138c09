#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// Tiny video clips made with the ffmpeg command at test time.
namespace fixtures {

// Makes the named clips in dir (in parallel). Known names:
//   clip720.mp4 (H.264 1280x720), clip360.mkv (H.264 640x360), clip2160.webm (VP8 3840x2160),
//   mpeg4.mp4 (MPEG-4 part 2 320x240), small.mp4 (H.264 320x180), all one second long;
//   truncated.mp4 (the first third of small.mp4, its index lost) and text.mp4 (plain text);
//   ten seconds at 320x240 with a tone (none for prores.mov, h264hi10.mkv, hevc10.mp4):
//   wmv2.wmv (ASF), mpeg2.mpg (MPEG-PS), flv1.flv, xvid.avi (MPEG-4 ASP), h264.avi, prores.mov,
//   h264aac.mp4, h264hi10.mkv (10-bit H.264), hevc10.mp4 (10-bit HEVC).
bool make(const QString &dir, const QStringList &names, QString &error);
// Encodes each recipe (ffmpeg's arguments before the output file) into dir/<name>, in parallel.
bool encode(const QString &dir, const QHash<QString, QStringList> &recipes, QString &error);

// Copies a file, creating the target's folders.
bool copy(const QString &from, const QString &to);
// A hard link, so that many "files" cost no space and no time to make.
bool link(const QString &from, const QString &to);
bool writeText(const QString &path, const QByteArray &text);

} // namespace fixtures
