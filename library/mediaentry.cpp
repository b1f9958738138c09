#include "library/mediaentry.h"

#include "app/constants.h"

#include <QCborMap>
#include <QCborValue>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringBuilder>
#include <array>
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

// QJsonValue::toInt: a number that is not a whole 32-bit value reads as 0, as does any
// other type.
qint32 jsonInt(const QCborValue &value)
{
    if (value.isInteger()) {
        const qint64 n = value.toInteger();
        return n >= std::numeric_limits<qint32>::min() && n <= std::numeric_limits<qint32>::max()
            ? qint32(n)
            : 0;
    }
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (d >= std::numeric_limits<qint32>::min() && d <= std::numeric_limits<qint32>::max()
            && d == std::trunc(d))
            return qint32(d);
    }
    return 0;
}

// Reads the named members of a map in one walk, instead of one search per member: listings
// are large and this is the bulk of loading one. Members not found stay undefined, which
// converts like a missing JSON member.
template<size_t N>
void readMembers(const QCborMap &map, const std::array<QCborValue, N> &keys,
                 std::array<QCborValue, N> &values)
{
    size_t next = 0;
    size_t missing = N;
    for (auto it = map.constBegin(), end = map.constEnd(); missing > 0 && it != end; ++it) {
        const QCborValue key = it.key();
        // JSON objects keep their members sorted, so the next wanted key usually matches.
        size_t found = next < N && key == keys[next] ? next : N;
        for (size_t k = 0; found == N && k < N; ++k) {
            if (key == keys[k])
                found = k;
        }
        if (found < N) {
            // A repeated key was already counted; JSON objects hold none, CBOR maps might.
            if (values[found].isUndefined())
                --missing;
            values[found] = it.value();
            next = found + 1;
        }
    }
}

template<typename... Names> std::array<QCborValue, sizeof...(Names)> keyList(Names... names)
{
    return { QCborValue(QLatin1String(names))... };
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
    return parseMediaEntry(QCborValue(QCborMap::fromJsonObject(element.toObject())));
}

MediaEntry parseMediaEntry(const QCborValue &element)
{
    // In the order JSON objects keep their members.
    enum { CreateTime, Id, Metadata, Name, Path, Pid, RealPath, Size, Type };
    static const auto keys = keyList("create_time", "id", "metadata", "name", "path", "pid",
                                     "real_path", "size", "type");
    enum { CoverImg, Duration, Height };
    static const auto metadataKeys = keyList("cover_img", "duration", "height");
    static const QCborValue directory(QLatin1String("directory"));
    static const QCborValue video(QLatin1String("video"));

    std::array<QCborValue, keys.size()> values;
    readMembers(element.toMap(), keys, values);

    MediaEntry entry;
    entry.id = jsonInt(values[Id]);
    entry.pid = jsonInt(values[Pid]);
    entry.name = values[Name].toString();
    entry.createTime = truncateToInt64(values[CreateTime].toDouble());
    entry.realPath = values[RealPath].toString();
    entry.path = values[Path].toString();

    // Compared as stored, exactly and case-sensitively.
    if (values[Type] == directory) {
        entry.fileType = MediaEntry::Folder;
        entry.coverImage = QStringLiteral("qrc:/res/image/file_big.png");
    } else if (values[Type] == video) {
        std::array<QCborValue, metadataKeys.size()> metadata;
        readMembers(values[Metadata].toMap(), metadataKeys, metadata);
        entry.definition = definitionClass(jsonInt(metadata[Height]));
        entry.size = truncateToInt64(values[Size].toDouble());
        entry.duration = jsonInt(metadata[Duration]);
        entry.fileType = MediaEntry::Video;
        const QString cover = metadata[CoverImg].toString();
        // The service names the cover by its own path; it is appended as sent, no "/" added.
        // Built in one piece: copying the shared base text would touch its reference count,
        // which threads parsing a listing together would fight over.
        entry.coverImage = cover.isEmpty() ? QStringLiteral("qrc:/res/image/video.png")
                                           : QString(ServiceBaseUrl % cover);
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
