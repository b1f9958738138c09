#include "app/constants.h"
#include "library/entrytext.h"
#include "library/mediaentry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QStandardPaths>
#include <QtTest>
#include <algorithm>
#include <vector>

class TestMediaEntry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void parse_data();
    void parse();
    void parseNonObject();
    void order_data();
    void order();
    void sizeText_data();
    void sizeText();
    void durationText_data();
    void durationText();
    void definitionLabel_data();
    void definitionLabel();
};

static QJsonValue json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

void TestMediaEntry::parse_data()
{
    QTest::addColumn<QJsonValue>("element");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("realPath");
    QTest::addColumn<QString>("cover");
    QTest::addColumn<qint64>("createTime");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("fileType");
    QTest::addColumn<int>("definition");
    QTest::addColumn<int>("duration");

    const QString video = QStringLiteral("qrc:/res/image/video.png");
    QTest::newRow("directory ignores metadata and size")
        << json(R"({"id":7,"pid":0,"name":"Films","type":"directory","path":"/Films",
                    "real_path":"/home/u/Films","create_time":1700000000.9,"size":99,
                    "metadata":{"height":1080,"duration":5000,"cover_img":"/c.jpg"}})")
        << 7 << "Films"
        << "/Films"
        << "/home/u/Films"
        << "qrc:/res/image/file_big.png" << qint64(1700000000) << qint64(0) << 2 << 0 << 0;
    QTest::newRow("video with metadata")
        << json(R"({"id":8,"name":"a.mp4","type":"video","size":1048576,"path":"/a.mp4",
                    "real_path":"/v/a.mp4","metadata":{"height":1080,"duration":61000,
                    "cover_img":"/covers/8.jpg"}})")
        << 8 << "a.mp4"
        << "/a.mp4"
        << "/v/a.mp4" << ServiceBaseUrl + "/covers/8.jpg" << qint64(0) << qint64(1048576) << 0 << 3
        << 61000;
    QTest::newRow("video without metadata")
        << json(R"({"id":9,"type":"video","size":10})") << 9 << ""
        << ""
        << "" << video << qint64(0) << qint64(10) << 0 << 1 << 0;
    QTest::newRow("height 719") << json(R"({"type":"video","metadata":{"height":719}})") << 0 << ""
                                << ""
                                << "" << video << qint64(0) << qint64(0) << 0 << 1 << 0;
    QTest::newRow("height 720") << json(R"({"type":"video","metadata":{"height":720}})") << 0 << ""
                                << ""
                                << "" << video << qint64(0) << qint64(0) << 0 << 2 << 0;
    QTest::newRow("height 1079") << json(R"({"type":"video","metadata":{"height":1079}})") << 0
                                 << ""
                                 << ""
                                 << "" << video << qint64(0) << qint64(0) << 0 << 2 << 0;
    QTest::newRow("height 1440") << json(R"({"type":"video","metadata":{"height":1440}})") << 0
                                 << ""
                                 << ""
                                 << "" << video << qint64(0) << qint64(0) << 0 << 4 << 0;
    QTest::newRow("height 2160") << json(R"({"type":"video","metadata":{"height":2160}})") << 0
                                 << ""
                                 << ""
                                 << "" << video << qint64(0) << qint64(0) << 0 << 5 << 0;
    QTest::newRow("height 4320") << json(R"({"type":"video","metadata":{"height":4320}})") << 0
                                 << ""
                                 << ""
                                 << "" << video << qint64(0) << qint64(0) << 0 << 6 << 0;
    QTest::newRow("height 100") << json(R"({"type":"video","metadata":{"height":100}})") << 0 << ""
                                << ""
                                << "" << video << qint64(0) << qint64(0) << 0 << 1 << 0;
    QTest::newRow("fractional height reads 0")
        << json(R"({"type":"video","metadata":{"height":1080.5}})") << 0 << ""
        << ""
        << "" << video << qint64(0) << qint64(0) << 0 << 1 << 0;
    QTest::newRow("float size truncated, metadata size ignored")
        << json(R"({"type":"video","size":1536.99,"metadata":{"size":5}})") << 0 << ""
        << ""
        << "" << video << qint64(0) << qint64(1536) << 0 << 1 << 0;
    QTest::newRow("size beyond 64 bits saturates")
        << json(R"({"type":"video","size":1e30,"create_time":-1e30})") << 0 << ""
        << ""
        << "" << video << std::numeric_limits<qint64>::min() << std::numeric_limits<qint64>::max()
        << 0 << 1 << 0;
    QTest::newRow("cover without leading slash")
        << json(R"({"type":"video","metadata":{"cover_img":"c.jpg"}})") << 0 << ""
        << ""
        << "" << QString("http://127.0.0.1:22823c.jpg") << qint64(0) << qint64(0) << 0 << 1 << 0;
    QTest::newRow("type in another case")
        << json(R"({"id":3,"type":"Video","size":10,"metadata":{"height":1080}})") << 3 << ""
        << ""
        << ""
        << "" << qint64(0) << qint64(0) << 0 << 0 << 0;
    QTest::newRow("no type") << json(R"({"name":"x"})") << 0 << "x"
                             << ""
                             << ""
                             << "" << qint64(0) << qint64(0) << 0 << 0 << 0;
    QTest::newRow("whole double id, unknown members")
        << json(R"({"id":4.0,"pid":3000000000,"zz":1,"aa":{"type":"video"},"type":"directory"})")
        << 4 << ""
        << ""
        << ""
        << "qrc:/res/image/file_big.png" << qint64(0) << qint64(0) << 2 << 0 << 0;
    QTest::newRow("id beyond 32 bits") << json(R"({"id":3000000000})") << 0 << ""
                                       << ""
                                       << ""
                                       << "" << qint64(0) << qint64(0) << 0 << 0 << 0;
    QTest::newRow("non-ASCII name, negative duration")
        << json(R"({"id":-2,"name":"旅行 Ω.mp4","type":"video","metadata":{"duration":-1500}})")
        << -2 << QStringLiteral("旅行 Ω.mp4") << ""
        << "" << video << qint64(0) << qint64(0) << 0 << 1 << -1500;
    QTest::newRow("id as a string, name as a number")
        << json(R"({"id":"12","name":5,"type":"directory"})") << 0 << ""
        << ""
        << ""
        << "qrc:/res/image/file_big.png" << qint64(0) << qint64(0) << 2 << 0 << 0;
}

void TestMediaEntry::parse()
{
    QFETCH(QJsonValue, element);
    const MediaEntry entry = parseMediaEntry(element);
    QTEST(entry.id, "id");
    QTEST(entry.name, "name");
    QTEST(entry.path, "path");
    QTEST(entry.realPath, "realPath");
    QTEST(entry.coverImage, "cover");
    QTEST(entry.createTime, "createTime");
    QTEST(entry.size, "size");
    QTEST(entry.fileType, "fileType");
    QTEST(entry.definition, "definition");
    QTEST(entry.duration, "duration");
}

void TestMediaEntry::parseNonObject()
{
    const QJsonArray odd { 5, QStringLiteral("video"), QJsonArray { 1 }, QJsonValue() };
    for (const QJsonValue &value : odd) {
        const MediaEntry entry = parseMediaEntry(value);
        QCOMPARE(entry.id, 0);
        QVERIFY(entry.name.isEmpty());
        QVERIFY(entry.coverImage.isEmpty());
    }
}

static MediaEntry entry(const QString &name, qint64 createTime, qint64 size, int fileType = 0)
{
    MediaEntry e;
    e.name = name;
    e.createTime = createTime;
    e.size = size;
    e.fileType = fileType;
    return e;
}

void TestMediaEntry::order_data()
{
    QTest::addColumn<int>("orderType");
    QTest::addColumn<int>("sortType");
    QTest::addColumn<QStringList>("expected");

    // "dir" is a folder between videos: ordering never groups folders.
    QTest::newRow("name 0") << 0 << 0
                            << QStringList { "10", "9", "Banana", "apple", "cherry", "dir" };
    QTest::newRow("name 1") << 0 << 1
                            << QStringList { "dir", "cherry", "apple", "Banana", "9", "10" };
    QTest::newRow("date 0") << 1 << 0
                            << QStringList { "9", "cherry", "dir", "apple", "Banana", "10" };
    QTest::newRow("date 1") << 1 << 1
                            << QStringList { "10", "Banana", "apple", "dir", "cherry", "9" };
    QTest::newRow("size 0") << 2 << 0
                            << QStringList { "9", "apple", "dir", "Banana", "10", "cherry" };
    QTest::newRow("size 1") << 2 << 1
                            << QStringList { "cherry", "10", "Banana", "dir", "apple", "9" };
    QTest::newRow("other codes") << 7 << -1
                                 << QStringList { "cherry", "10", "Banana", "dir", "apple", "9" };
}

void TestMediaEntry::order()
{
    QFETCH(int, orderType);
    QFETCH(int, sortType);
    QFETCH(QStringList, expected);
    std::vector<MediaEntry> entries { entry("apple", 20, 300), entry("Banana", 10, 100),
                                      entry("cherry", 40, -5), entry("dir", 30, 200, 2),
                                      entry("10", 5, 50),      entry("9", 50, 400) };
    std::sort(entries.begin(), entries.end(), [&](const MediaEntry &a, const MediaEntry &b) {
        return mediaEntryLess(a, b, orderType, sortType);
    });
    QStringList names;
    for (const MediaEntry &e : entries)
        names << e.name;
    QCOMPARE(names, expected);
}

void TestMediaEntry::sizeText_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << qint64(0) << "0.00 B";
    QTest::newRow("1023") << qint64(1023) << "1023.00 B";
    QTest::newRow("1024") << qint64(1024) << "1.00 KB";
    QTest::newRow("1536") << qint64(1536) << "1.50 KB";
    QTest::newRow("1048575") << qint64(1048575) << "1024.00 KB";
    QTest::newRow("1048576") << qint64(1048576) << "1.00 MB";
    QTest::newRow("5 GiB") << qint64(5) * (qint64(1) << 30) << "5.00 GB";
    QTest::newRow("1 TiB") << (qint64(1) << 40) << "1024.00 GB";
    QTest::newRow("12345678") << qint64(12345678) << "11.77 MB";
    QTest::newRow("grouping never") << (qint64(1) << 50) << "1048576.00 GB";
}

void TestMediaEntry::sizeText()
{
    QFETCH(qint64, bytes);
    QTEST(::sizeText(bytes), "text");
}

void TestMediaEntry::durationText_data()
{
    QTest::addColumn<int>("milliseconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "0:0:0";
    QTest::newRow("999") << 999 << "0:0:0";
    QTest::newRow("59999") << 59999 << "0:0:59";
    QTest::newRow("61000") << 61000 << "0:1:1";
    QTest::newRow("3600000") << 3600000 << "1:0:0";
    QTest::newRow("3723000") << 3723000 << "1:2:3";
    QTest::newRow("172805000") << 172805000 << "48:0:5";
}

void TestMediaEntry::durationText()
{
    QFETCH(int, milliseconds);
    QTEST(::durationText(milliseconds), "text");
}

void TestMediaEntry::definitionLabel_data()
{
    QTest::addColumn<int>("definition");
    QTest::addColumn<QString>("label");
    const char *labels[] = { "360P", "720P", "1080P", "2K", "4K", "8K" };
    for (int i = 0; i < 6; ++i)
        QTest::newRow(labels[i]) << i + 1 << QString::fromLatin1(labels[i]);
    QTest::newRow("0") << 0 << QStringLiteral("未知");
    QTest::newRow("7") << 7 << QStringLiteral("未知");
}

void TestMediaEntry::definitionLabel()
{
    QFETCH(int, definition);
    QTEST(::definitionLabel(definition), "label");
}

QTEST_GUILESS_MAIN(TestMediaEntry)
#include "tst_mediaentry.moc"
