#include "library/mediaentry.h"

#include "app/constants.h"

#include <QJsonObject>
#include <QJsonValue>
#include <cmath>
#include <limits>

namespace {

// A plain cast of a double outside the 64-bit range (or of NaN) is undefined; listings are
// written by another process, so such values saturate instead.
qint64 truncateToInt64(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (value >= limit)
        return std::numeric_limits<qint64>::max();
    if (value < -limit)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(value);
}

} // namespace

qint32 definitionClass(int height)
{
    if (height >= 4320)
        return 6;
    if (height >= 2160)
        return 5;
    if (height >= 1440)
        return 4;
    if (height >= 1080)
        return 3;
    if (height >= 720)
        return 2;
    return 1;
}

MediaEntry parseMediaEntry(const QJsonValue &element)
{
    const QJsonObject object = element.toObject();
    MediaEntry entry;
    entry.id = object.value(QLatin1String("id")).toInt();
    entry.pid = object.value(QLatin1String("pid")).toInt();
    entry.name = object.value(QLatin1String("name")).toString();
    entry.createTime = truncateToInt64(object.value(QLatin1String("create_time")).toDouble());
    entry.realPath = object.value(QLatin1String("real_path")).toString();
    entry.path = object.value(QLatin1String("path")).toString();

    const QString type = object.value(QLatin1String("type")).toString();
    if (type == QLatin1String("directory")) {
        entry.fileType = MediaEntry::Folder;
        entry.coverImage = QStringLiteral("qrc:/res/image/file_big.png");
    } else if (type == QLatin1String("video")) {
        const QJsonObject metadata = object.value(QLatin1String("metadata")).toObject();
        entry.definition = definitionClass(metadata.value(QLatin1String("height")).toInt());
        entry.size = truncateToInt64(object.value(QLatin1String("size")).toDouble());
        entry.duration = metadata.value(QLatin1String("duration")).toInt();
        entry.fileType = MediaEntry::Video;
        const QString cover = metadata.value(QLatin1String("cover_img")).toString();
        // The service names the cover by its own path; it is appended as sent, no "/" added.
        entry.coverImage
            = cover.isEmpty() ? QStringLiteral("qrc:/res/image/video.png") : ServiceBaseUrl + cover;
    }
    return entry;
}

bool mediaEntryLess(const MediaEntry &a, const MediaEntry &b, int orderType, int sortType)
{
    switch (orderType) {
    case 0:
        // QString's operator< compares UTF-16 code units: "B" < "a", "10" < "9".
        return sortType == 0 ? a.name < b.name : b.name < a.name;
    case 1:
        return sortType == 0 ? a.createTime > b.createTime : a.createTime < b.createTime;
    default:
        return sortType == 0 ? a.size > b.size : a.size < b.size;
    }
}
