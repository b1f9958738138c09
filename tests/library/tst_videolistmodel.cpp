#include "library/videolistmodel.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

class TestVideoListModel : public QObject
{
    Q_OBJECT

private slots:
    void roleNames();
    void loadIsOneReset();
    void dataOutsideRows_data();
    void dataOutsideRows();
    void roleValues();
    void orderSurvivesListings();
    void sortEvents_data();
    void sortEvents();
    void folderNode();
    void selectByRealPath();
};

static QJsonArray listing(const char *text)
{
    return QJsonDocument::fromJson(text).array();
}

static const char *const sample = R"([
    {"id":1,"pid":0,"name":"b.mp4","type":"video","size":1048575,"path":"/b.mp4",
     "real_path":"/v/b.mp4","create_time":30,
     "metadata":{"height":2160,"duration":3723000,"cover_img":"/covers/1.jpg"}},
    {"id":2,"pid":0,"name":"A","type":"directory","path":"/A","real_path":"/v/A",
     "create_time":10},
    {"id":3,"pid":0,"name":"c.mkv","type":"video","size":10,"path":"/c.mkv",
     "real_path":"/v/c.mkv","create_time":20}
])";

static QStringList column(const QAbstractItemModel &model, int role)
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values << model.data(model.index(row, 0), role).toString();
    return values;
}

// What the model reported, as "eventId=switchResult" lines.
static QStringList reportedEvents(const QSignalSpy &reported)
{
    QStringList events;
    for (const QList<QVariant> &event : reported) {
        const QJsonObject extra = event.at(1).toJsonObject();
        events << event.at(0).toString() + QLatin1Char('=')
                + extra[QLatin1String("switchResult")].toString()
                + (extra.size() == 1 ? QString() : QStringLiteral(" (extra members)"));
    }
    return events;
}

void TestVideoListModel::roleNames()
{
    VideoListModel model;
    const QHash<int, QByteArray> expected {
        { 256, "id" },       { 257, "filename" }, { 258, "videoDefinition" }, { 259, "size" },
        { 260, "duration" }, { 261, "filetype" }, { 262, "coverimage" },      { 263, "abspath" },
    };
    QCOMPARE(model.roleNames(), expected);
}

void TestVideoListModel::loadIsOneReset()
{
    VideoListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removals(&model, &QAbstractItemModel::rowsRemoved);

    model.loadEntries(listing(sample));
    QCOMPARE(resets.count(), 1);
    QCOMPARE(model.rowCount(), 3);
    model.loadEntries(QJsonArray());
    QCOMPARE(resets.count(), 2);
    QCOMPARE(model.rowCount(), 0);
    model.loadEntries(listing(R"([{"id":5}, 7])"));
    QCOMPARE(resets.count(), 3);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(inserts.count(), 0);
    QCOMPARE(removals.count(), 0);
}

void TestVideoListModel::dataOutsideRows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("role");
    QTest::addColumn<bool>("valid");
    QTest::newRow("last row") << 2 << 256 << true;
    QTest::newRow("row equal to count") << 3 << 256 << false;
    QTest::newRow("negative row") << -1 << 256 << false;
    QTest::newRow("role below") << 0 << 255 << false;
    QTest::newRow("display role") << 0 << int(Qt::DisplayRole) << false;
    QTest::newRow("role above") << 0 << 264 << false;
}

void TestVideoListModel::dataOutsideRows()
{
    QFETCH(int, row);
    QFETCH(int, role);
    // Views may hold indexes of rows that a reset took away; build such indexes directly.
    struct Probe : VideoListModel
    {
        QModelIndex rawIndex(int row) const { return createIndex(row, 0); }
    } model;
    model.loadEntries(listing(sample));
    const QModelIndex index = model.rawIndex(row);
    QTEST(model.data(index, role).isValid(), "valid");
}

void TestVideoListModel::roleValues()
{
    VideoListModel model;
    model.loadEntries(listing(sample));
    // Name order with the default codes: "A" before "b.mp4" before "c.mkv".
    QCOMPARE(column(model, VideoListModel::FileNameRole), QStringList({ "A", "b.mp4", "c.mkv" }));
    QCOMPARE(column(model, VideoListModel::IdRole), QStringList({ "2", "1", "3" }));
    QCOMPARE(column(model, VideoListModel::DefinitionRole),
             QStringList({ QStringLiteral("未知"), "4K", "360P" }));
    QCOMPARE(column(model, VideoListModel::SizeRole),
             QStringList({ "0.00 B", "1024.00 KB", "10.00 B" }));
    QCOMPARE(column(model, VideoListModel::DurationRole),
             QStringList({ "0:0:0", "1:2:3", "0:0:0" }));
    QCOMPARE(column(model, VideoListModel::FileTypeRole), QStringList({ "2", "0", "0" }));
    QCOMPARE(column(model, VideoListModel::CoverImageRole),
             QStringList({ "qrc:/res/image/file_big.png", "http://127.0.0.1:22823/covers/1.jpg",
                           "qrc:/res/image/video.png" }));
    QCOMPARE(column(model, VideoListModel::AbsPathRole),
             QStringList({ "/v/A", "/v/b.mp4", "/v/c.mkv" }));
    QCOMPARE(model.data(model.index(0, 0), VideoListModel::IdRole).userType(), int(QMetaType::Int));
}

void TestVideoListModel::orderSurvivesListings()
{
    VideoListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.sortEntries(2, 1);
    QCOMPARE(resets.count(), 1);
    model.loadEntries(listing(sample));
    QCOMPARE(column(model, VideoListModel::IdRole), QStringList({ "2", "3", "1" }));
    model.sortEntries(1, 0);
    QCOMPARE(column(model, VideoListModel::IdRole), QStringList({ "1", "3", "2" }));
    // The same codes again still reset the views.
    model.sortEntries(1, 0);
    QCOMPARE(resets.count(), 4);
}

void TestVideoListModel::sortEvents_data()
{
    QTest::addColumn<QList<QPoint>>("calls"); // x = orderType, y = sortType
    QTest::addColumn<QStringList>("events");
    const QString key = QStringLiteral("velnorAssistant_velnor_home_sort_sortBy_pit_switch=");
    const QString dir = QStringLiteral("velnorAssistant_velnor_home_sort_sortType_pit_switch=");

    QTest::newRow("stored codes report nothing") << QList<QPoint> { { 0, 0 } } << QStringList();
    QTest::newRow("both change: key first")
        << QList<QPoint> { { 1, 1 } } << QStringList { key + "Date", dir + "ASC" };
    QTest::newRow("direction only")
        << QList<QPoint> { { 0, 1 }, { 0, 0 } } << QStringList { dir + "ASC", dir + "DES" };
    QTest::newRow("key only, any other key is size")
        << QList<QPoint> { { 2, 0 }, { 2, 0 }, { 9, 0 }, { 0, 0 } }
        << QStringList { key + "Size", key + "Size", key + "Name" };
    QTest::newRow("any non-zero direction is ascending")
        << QList<QPoint> { { 0, -3 }, { 0, 1 } } << QStringList { dir + "ASC", dir + "ASC" };
}

void TestVideoListModel::sortEvents()
{
    QFETCH(QList<QPoint>, calls);
    VideoListModel model;
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy reported(&model, &VideoListModel::sortReported);
    for (const QPoint &call : calls)
        model.sortEntries(call.x(), call.y());
    QCOMPARE(resets.count(), calls.size());
    QTEST(reportedEvents(reported), "events");
}

void TestVideoListModel::folderNode()
{
    VideoListModel model;
    model.loadEntries(listing(R"([
        {"id":4,"pid":1,"name":"x","type":"directory","path":"/P/x","real_path":"/home/x"},
        {"id":4,"pid":2,"name":"y","type":"directory","path":"/P/y","real_path":"/home/y"}])"));
    FolderNode node = model.folderNode(4);
    QCOMPARE(node.pid, 1);
    QCOMPARE(node.path, QStringLiteral("/P/x"));
    QCOMPARE(node.realPath, QStringLiteral("/home/x"));
    model.sortEntries(0, 1);
    QCOMPARE(model.folderNode(4).pid, 2);

    QTest::ignoreMessage(QtInfoMsg, "floder can't find 42");
    node = model.folderNode(42);
    QCOMPARE(node.id, 0);
    QCOMPARE(node.pid, 0);
    QVERIFY(node.path.isEmpty() && node.realPath.isEmpty());
}

void TestVideoListModel::selectByRealPath()
{
    VideoListModel model;
    model.loadEntries(listing(R"([{"name":"a","real_path":"/v/Clip.mp4"},
        {"name":"b","real_path":"/v/clip.mp4"}, {"name":"c","real_path":"/v/clip.mp4"}])"));
    QSignalSpy selected(&model, &VideoListModel::selectIndex);
    model.selectByRealPath(QStringLiteral("/v/clip.mp4"));
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.first().first().toInt(), 1);
    model.selectByRealPath(QStringLiteral("/V/CLIP.MP4"));
    model.selectByRealPath(QStringLiteral("/v/clip"));
    QCOMPARE(selected.count(), 1);
}

QTEST_GUILESS_MAIN(TestVideoListModel)
#include "tst_videolistmodel.moc"
