#pragma once

#include <QString>

class QCborValue;
class QJsonValue;

// One file or folder of a folder listing of the media service.
struct MediaEntry
{
    enum FileType : qint32 { Video = 0, Folder = 2 };

    qint32 id = 0;
    qint32 pid = 0;
    QString name;
    QString realPath;
    QString path;
    QString coverImage;
    qint64 createTime = 0;
    qint64 size = 0;
    qint32 fileType = 0;
    qint32 definition = 0;
    qint32 duration = 0;
};

// Definition class 1 ("360P") to 6 ("8K") of a picture height in pixels.
qint32 definitionClass(int height);

// Makes an entry of one element of a listing's "data" array; anything missing reads as 0 or
// empty, so every element yields an entry.
MediaEntry parseMediaEntry(const QJsonValue &element);
// The same rule on the CBOR view of a parsed JSON element (QCborArray::fromJsonArray shares the
// JSON data without copying); JSON's lenient conversions apply unchanged.
MediaEntry parseMediaEntry(const QCborValue &element);

// True when a is shown before b. orderType 0 orders by name, 1 by creation time, any other
// value by size; sortType 0 puts names upward but dates and sizes downward, non-zero the reverse.
bool mediaEntryLess(const MediaEntry &a, const MediaEntry &b, int orderType, int sortType);
