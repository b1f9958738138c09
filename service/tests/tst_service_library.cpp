// The library as the assistant sees it through the control interface: folder trees, rescans,
// single files, removal, covers and the device name, against the real service binary.
#include "fixtures.h"
#include "serviceprocess.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

class ServiceLibraryTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void importsFolderTree();
    void rescanKeepsIdsAndDropsWhatVanished();
    void rescanOfSubfolderStaysInPlace();
    void changedFileIsReadAgain();
    void parentImportTakesInEarlierFolder();
    void importsSingleFileIntoFolder();
    void singleFileFailures_data();
    void singleFileFailures();
    void removesFolderWithSubtree();
    void settingsRoundTrip();
    void settingsRefusal_data();
    void settingsRefusal();
    void libraryOutlivesRestart();

private:
    // A fresh copy of the standard tree under a new folder name; returns its path.
    QString makeTree(const QString &name);
    QString clip(const QString &name) const { return m_clips + "/" + name; }

    QTemporaryDir m_temp;
    QString m_clips;
    ServiceProcess m_service;
};

void ServiceLibraryTest::initTestCase()
{
    QVERIFY(m_temp.isValid());
    m_clips = m_temp.filePath("clips");
    QString error;
    QVERIFY2(fixtures::make(m_clips,
                            { "clip720.mp4", "clip360.mkv", "clip2160.webm", "mpeg4.mp4",
                              "small.mp4", "truncated.mp4", "text.mp4" },
                            error),
             qPrintable(error));
    QVERIFY(m_service.start(m_temp.filePath("data")));
}

QString ServiceLibraryTest::makeTree(const QString &name)
{
    const QString root = m_temp.filePath("media/" + name);
    const struct
    {
        const char *source;
        const char *target;
    } files[] = {
        { "clip720.mp4", "clip720.mp4" },      { "clip360.mkv", "Sub/clip360.mkv" },
        { "small.mp4", "Sub/UPPER.MP4" },      { "clip2160.webm", "Sub/Deep/clip2160.webm" },
        { "mpeg4.mp4", "Sub/Deep/mpeg4.mp4" }, { "truncated.mp4", "Broken/truncated.mp4" },
        { "text.mp4", "Broken/text.mp4" },     { "small.mp4", ".hidden/small.mp4" },
        { "text.mp4", "notes.txt" },
    };
    for (const auto &file : files) {
        if (!fixtures::copy(clip(file.source), root + "/" + file.target))
            return {};
    }
    QDir().mkpath(root + "/Empty");
    return root;
}

void ServiceLibraryTest::importsFolderTree()
{
    const QString root = makeTree("Movies");
    QVERIFY(!root.isEmpty());
    const ServiceReply reply = m_service.importPath(root);
    QCOMPARE(reply.code(), 0);
    const QJsonObject data = reply.data().toObject();
    QCOMPARE(data.value("type").toString(), QString("directory"));
    QCOMPARE(data.value("successCount").toInt(), 5);
    QCOMPARE(data.value("failureCount").toInt(), 2);
    QCOMPARE(data.value("pid").toInt(), 0);

    const QJsonObject movies = entryNamed(m_service.list(0), "Movies");
    QCOMPARE(movies.value("id").toInt(), data.value("id").toInt());
    QCOMPARE(movies.value("type").toString(), QString("directory"));
    QCOMPARE(movies.value("path").toString(), QString("/Movies"));
    QCOMPARE(movies.value("real_path").toString(), root);
    QCOMPARE(movies.value("pid").toInt(), 0);

    // Folders without videos (Broken holds only failures, Empty nothing) are not entries.
    const QJsonArray top = m_service.list(movies.value("id").toInt());
    QCOMPARE(top.size(), 2);
    const QJsonObject sub = entryNamed(top, "Sub");
    QCOMPARE(sub.value("path").toString(), QString("/Movies/Sub"));
    QCOMPARE(sub.value("pid").toInt(), movies.value("id").toInt());
    const QJsonObject clip720 = entryNamed(top, "clip720.mp4");
    QCOMPARE(clip720.value("type").toString(), QString("video"));
    QCOMPARE(clip720.value("path").toString(), QString("/Movies/clip720.mp4"));
    QCOMPARE(clip720.value("real_path").toString(), root + "/clip720.mp4");
    QCOMPARE(clip720.value("size").toVariant().toLongLong(),
             QFileInfo(clip720.value("real_path").toString()).size());
    QCOMPARE(clip720.value("create_time").toVariant().toLongLong(),
             QFileInfo(root + "/clip720.mp4").lastModified().toMSecsSinceEpoch());

    const QJsonArray subList = m_service.list(sub.value("id").toInt());
    QCOMPARE(subList.size(), 3);
    QVERIFY(!entryNamed(subList, "UPPER.MP4").isEmpty());
    const QJsonObject deep = entryNamed(subList, "Deep");
    QCOMPARE(deep.value("path").toString(), QString("/Movies/Sub/Deep"));
    const QJsonArray deepList = m_service.list(deep.value("id").toInt());
    QCOMPARE(deepList.size(), 2);

    const struct
    {
        QJsonObject entry;
        int width;
        int height;
        const char *codec;
    } expected[] = {
        { clip720, 1280, 720, "h264" },
        { entryNamed(subList, "clip360.mkv"), 640, 360, "h264" },
        { entryNamed(deepList, "clip2160.webm"), 3840, 2160, "vp8" },
        { entryNamed(deepList, "mpeg4.mp4"), 320, 240, "mpeg4" },
    };
    for (const auto &item : expected) {
        const QJsonObject metadata = item.entry.value("metadata").toObject();
        const QString name = item.entry.value("name").toString();
        QVERIFY2(!metadata.isEmpty(), qPrintable(name));
        QCOMPARE(metadata.value("width").toInt(), item.width);
        QCOMPARE(metadata.value("height").toInt(), item.height);
        QCOMPARE(metadata.value("codec").toString(), QString(item.codec));
        const int duration = metadata.value("duration").toInt();
        QVERIFY2(duration >= 900 && duration <= 1100,
                 qPrintable(name + ": " + QString::number(duration)));

        // The cover is ready with the reply that answered the import.
        const QString cover = metadata.value("cover_img").toString();
        QCOMPARE(cover, QStringLiteral("/covers/%1.jpg").arg(item.entry.value("id").toInt()));
        const ServiceReply image = m_service.get(cover);
        QCOMPARE(image.status, 200);
        QCOMPARE(image.contentType, QByteArray("image/jpeg"));
        QImage picture;
        QVERIFY2(picture.loadFromData(image.body, "JPG"), qPrintable(name));
        QCOMPARE(picture.width(), 320);
        QCOMPARE(picture.height(), 320 * item.height / item.width);
    }
}

void ServiceLibraryTest::rescanKeepsIdsAndDropsWhatVanished()
{
    const QString root = makeTree("Rescan");
    const int rootId = m_service.importPath(root).data().toObject().value("id").toInt();
    QVERIFY(rootId > 0);
    const QJsonObject sub = entryNamed(m_service.list(rootId), "Sub");
    const int clipId = entryNamed(m_service.list(rootId), "clip720.mp4").value("id").toInt();
    const int mkvId
        = entryNamed(m_service.list(sub.value("id").toInt()), "clip360.mkv").value("id").toInt();

    QVERIFY(QFile::remove(root + "/Sub/UPPER.MP4"));
    QVERIFY(QDir(root + "/Sub/Deep").removeRecursively());
    QVERIFY(fixtures::copy(clip("small.mp4"), root + "/Sub/added.mp4"));
    QVERIFY(fixtures::copy(clip("small.mp4"), root + "/Empty/Inner/late.mp4"));

    const ServiceReply again = m_service.importPath(root);
    QCOMPARE(again.code(), 0);
    QCOMPARE(again.data().toObject().value("id").toInt(), rootId);
    QCOMPARE(again.data().toObject().value("successCount").toInt(), 2);
    QCOMPARE(again.data().toObject().value("failureCount").toInt(), 2);

    const QJsonArray top = m_service.list(rootId);
    QCOMPARE(entryNamed(top, "clip720.mp4").value("id").toInt(), clipId);
    QCOMPARE(entryNamed(top, "Sub").value("id").toInt(), sub.value("id").toInt());
    const QJsonObject empty = entryNamed(top, "Empty");
    QCOMPARE(empty.value("path").toString(), QString("/Rescan/Empty"));
    const QJsonObject inner = entryNamed(m_service.list(empty.value("id").toInt()), "Inner");
    QCOMPARE(m_service.list(inner.value("id").toInt()).size(), 1);

    const QJsonArray subList = m_service.list(sub.value("id").toInt());
    QCOMPARE(subList.size(), 2);
    QCOMPARE(entryNamed(subList, "clip360.mkv").value("id").toInt(), mkvId);
    QVERIFY(!entryNamed(subList, "added.mp4").isEmpty());
    QVERIFY(entryNamed(subList, "UPPER.MP4").isEmpty());
    QVERIFY(entryNamed(subList, "Deep").isEmpty());
    // Only one copy of the folder exists at the top.
    int copies = 0;
    for (const QJsonValue &value : m_service.list(0))
        copies += value.toObject().value("real_path").toString() == root;
    QCOMPARE(copies, 1);
}

void ServiceLibraryTest::rescanOfSubfolderStaysInPlace()
{
    const QString root = makeTree("Place");
    const int rootId = m_service.importPath(root).data().toObject().value("id").toInt();
    const QJsonObject sub = entryNamed(m_service.list(rootId), "Sub");
    QVERIFY(fixtures::copy(clip("small.mp4"), root + "/Sub/new.mp4"));

    // The assistant's refresh posts the shown folder's own path.
    const ServiceReply reply = m_service.importPath(root + "/Sub/");
    QCOMPARE(reply.code(), 0);
    QCOMPARE(reply.data().toObject().value("id").toInt(), sub.value("id").toInt());
    QCOMPARE(reply.data().toObject().value("pid").toInt(), rootId);
    QCOMPARE(reply.data().toObject().value("successCount").toInt(), 1);
    const QJsonObject again = entryNamed(m_service.list(rootId), "Sub");
    QCOMPARE(again.value("path").toString(), QString("/Place/Sub"));
    QCOMPARE(m_service.list(sub.value("id").toInt()).size(), 4);
}

void ServiceLibraryTest::changedFileIsReadAgain()
{
    const QString root = makeTree("Changed");
    const int rootId = m_service.importPath(root).data().toObject().value("id").toInt();
    const int subId = entryNamed(m_service.list(rootId), "Sub").value("id").toInt();
    const QJsonObject before = entryNamed(m_service.list(subId), "clip360.mkv");
    QCOMPARE(before.value("metadata").toObject().value("height").toInt(), 360);

    // Another picture under the same name: same id, new metadata and cover.
    QVERIFY(fixtures::copy(clip("clip720.mp4"), root + "/Sub/clip360.mkv"));
    const ServiceReply again = m_service.importPath(root);
    QCOMPARE(again.data().toObject().value("successCount").toInt(), 1);
    const QJsonObject after = entryNamed(m_service.list(subId), "clip360.mkv");
    QCOMPARE(after.value("id").toInt(), before.value("id").toInt());
    QCOMPARE(after.value("metadata").toObject().value("height").toInt(), 720);
    QCOMPARE(after.value("size").toVariant().toLongLong(), QFileInfo(clip("clip720.mp4")).size());
    QImage cover;
    QVERIFY(cover.loadFromData(
        m_service.get(after.value("metadata").toObject().value("cover_img").toString()).body));
    QCOMPARE(cover.height(), 180);

    // A file that can no longer be read leaves the library.
    QVERIFY(fixtures::copy(clip("text.mp4"), root + "/Sub/clip360.mkv"));
    const ServiceReply broken = m_service.importPath(root);
    QCOMPARE(broken.data().toObject().value("failureCount").toInt(), 3);
    QVERIFY(entryNamed(m_service.list(subId), "clip360.mkv").isEmpty());
}

void ServiceLibraryTest::parentImportTakesInEarlierFolder()
{
    const QString root = makeTree("Parent");
    const ServiceReply child = m_service.importPath(root + "/Sub");
    const int subId = child.data().toObject().value("id").toInt();
    QCOMPARE(entryNamed(m_service.list(0), "Sub").value("path").toString(), QString("/Sub"));

    // The folder imported before keeps its id and moves below its parent.
    const ServiceReply parent = m_service.importPath(root);
    QCOMPARE(parent.code(), 0);
    QCOMPARE(parent.data().toObject().value("successCount").toInt(), 1);
    const int parentId = parent.data().toObject().value("id").toInt();
    const QJsonObject sub = entryNamed(m_service.list(parentId), "Sub");
    QCOMPARE(sub.value("id").toInt(), subId);
    QCOMPARE(sub.value("pid").toInt(), parentId);
    QCOMPARE(sub.value("path").toString(), QString("/Parent/Sub"));
    QCOMPARE(entryNamed(m_service.list(subId), "Deep").value("path").toString(),
             QString("/Parent/Sub/Deep"));
    for (const QJsonValue &value : m_service.list(0))
        QVERIFY(value.toObject().value("real_path").toString() != root + "/Sub");
}

void ServiceLibraryTest::importsSingleFileIntoFolder()
{
    const QString root = makeTree("Single");
    const int rootId = m_service.importPath(root).data().toObject().value("id").toInt();
    const QString loose = m_temp.filePath("loose/one.mp4");
    QVERIFY(fixtures::copy(clip("small.mp4"), loose));

    const ServiceReply reply = m_service.importPath(loose, rootId);
    QCOMPARE(reply.code(), 0);
    const QJsonObject data = reply.data().toObject();
    QCOMPARE(data.value("type").toString(), QString("video"));
    QCOMPARE(data.value("pid").toInt(), rootId);
    const QJsonObject entry = entryNamed(m_service.list(rootId), "one.mp4");
    QCOMPARE(entry.value("id").toInt(), data.value("id").toInt());
    QCOMPARE(entry.value("path").toString(), QString("/Single/one.mp4"));
    QCOMPARE(entry.value("metadata").toObject().value("height").toInt(), 180);

    // The same file again names where it already is.
    const ServiceReply twice = m_service.importPath(loose, 0);
    QCOMPARE(twice.code(), -2);
    QCOMPARE(twice.data().toObject().value("pid").toInt(), rootId);
    QCOMPARE(twice.data().toObject().value("id").toInt(), data.value("id").toInt());

    // A file added by hand from elsewhere survives a rescan of the folder that holds it.
    QCOMPARE(m_service.importPath(root).code(), 0);
    QVERIFY(!entryNamed(m_service.list(rootId), "one.mp4").isEmpty());

    // An unknown folder means the root.
    const QString other = m_temp.filePath("loose/two.mp4");
    QVERIFY(fixtures::copy(clip("small.mp4"), other));
    const ServiceReply toRoot = m_service.importPath(other, 987654);
    QCOMPARE(toRoot.code(), 0);
    QCOMPARE(toRoot.data().toObject().value("pid").toInt(), 0);
    QCOMPARE(entryNamed(m_service.list(0), "two.mp4").value("path").toString(),
             QString("/two.mp4"));
}

void ServiceLibraryTest::singleFileFailures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("code");
    QTest::newRow("not a video inside") << "text.mp4" << -5;
    QTest::newRow("index lost") << "truncated.mp4" << -5;
    QTest::newRow("suffix not accepted") << "notes.txt" << -4;
    QTest::newRow("missing") << "missing.mp4" << -3;
}

void ServiceLibraryTest::singleFileFailures()
{
    QFETCH(QString, file);
    QFETCH(int, code);
    const QString path = m_temp.filePath("single-failures/" + file);
    if (file == "notes.txt")
        QVERIFY(fixtures::writeText(path, "text"));
    else if (file != "missing.mp4")
        QVERIFY(fixtures::copy(clip(file), path));
    const ServiceReply reply = m_service.importPath(path);
    QCOMPARE(reply.code(), code);
    QVERIFY(!reply.msg().isEmpty());
    QVERIFY(entryNamed(m_service.list(0), file).isEmpty());
}

void ServiceLibraryTest::removesFolderWithSubtree()
{
    const QString root = makeTree("Remove");
    const int rootId = m_service.importPath(root).data().toObject().value("id").toInt();
    const int subId = entryNamed(m_service.list(rootId), "Sub").value("id").toInt();
    const int deepId = entryNamed(m_service.list(subId), "Deep").value("id").toInt();
    const int webmId = entryNamed(m_service.list(deepId), "clip2160.webm").value("id").toInt();

    const ServiceReply reply = m_service.del(QStringLiteral("/files/%1?reqId=r").arg(subId));
    QCOMPARE(reply.code(), 0);
    QCOMPARE(m_service.list(rootId).size(), 1);
    for (int gone : { subId, deepId })
        QCOMPARE(m_service.get(QStringLiteral("/files?id=%1").arg(gone)).code(), -3);
    QCOMPARE(m_service.get(QStringLiteral("/covers/%1.jpg").arg(webmId)).status, 404);
    // The disk is never touched.
    QVERIFY(QFile::exists(root + "/Sub/Deep/clip2160.webm"));
    QCOMPARE(m_service.del(QStringLiteral("/files/%1").arg(subId)).code(), -3);

    QCOMPARE(m_service.del(QStringLiteral("/files/%1").arg(rootId)).code(), 0);
    QVERIFY(entryNamed(m_service.list(0), "Remove").isEmpty());
}

void ServiceLibraryTest::settingsRoundTrip()
{
    const ServiceReply initial = m_service.get("/settings/?reqId=a");
    QCOMPARE(initial.code(), 0);
    QCOMPARE(initial.data().toObject().value("deviceName").toString(), QSysInfo::machineHostName());

    const QString name = QString::fromUtf8("  客厅的电脑 ");
    const ServiceReply set = m_service.put(
        "/settings/?reqId=b",
        QJsonDocument(QJsonObject { { "deviceName", name } }).toJson(QJsonDocument::Compact));
    QCOMPARE(set.code(), 0);
    QCOMPARE(set.data().toObject().value("deviceName").toString(), name.trimmed());
    QCOMPARE(m_service.get("/settings/").data().toObject().value("deviceName").toString(),
             name.trimmed());
}

void ServiceLibraryTest::settingsRefusal_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("blank") << QByteArray(R"({"deviceName":"   "})");
    QTest::newRow("empty") << QByteArray(R"({"deviceName":""})");
    QTest::newRow("64 characters")
        << QByteArray(R"({"deviceName":")" + QByteArray(64, 'x') + "\"}");
    QTest::newRow("64 CJK characters")
        << (QByteArray(R"({"deviceName":")") + QString(64, QChar(0x7535)).toUtf8() + "\"}");
    QTest::newRow("control character") << QByteArray(R"({"deviceName":"a\nb"})");
    QTest::newRow("number") << QByteArray(R"({"deviceName":5})");
    QTest::newRow("missing") << QByteArray(R"({"name":"x"})");
    QTest::newRow("not an object") << QByteArray(R"(["x"])");
}

void ServiceLibraryTest::settingsRefusal()
{
    QFETCH(QByteArray, body);
    const QString before
        = m_service.get("/settings/").data().toObject().value("deviceName").toString();
    const ServiceReply reply = m_service.put("/settings/", body);
    QVERIFY(reply.code() != 0);
    QVERIFY(!reply.msg().isEmpty());
    QCOMPARE(m_service.get("/settings/").data().toObject().value("deviceName").toString(), before);

    // The longest name that is allowed, counted in characters, not bytes.
    const QString longest(63, QChar(0x7535));
    QCOMPARE(m_service
                 .put("/settings/",
                      QJsonDocument(QJsonObject { { "deviceName", longest } })
                          .toJson(QJsonDocument::Compact))
                 .code(),
             0);
    QCOMPARE(m_service
                 .put("/settings/",
                      QJsonDocument(QJsonObject { { "deviceName", before } })
                          .toJson(QJsonDocument::Compact))
                 .code(),
             0);
}

void ServiceLibraryTest::libraryOutlivesRestart()
{
    const QString root = makeTree("Restart");
    const int rootId = m_service.importPath(root).data().toObject().value("id").toInt();
    const QJsonArray before = m_service.list(rootId);
    QVERIFY(m_service.put("/settings/", R"({"deviceName":"kept"})").code() == 0);

    QVERIFY(m_service.terminate() >= 0);
    QCOMPARE(m_service.process().exitCode(), 0);
    QVERIFY(m_service.start(m_temp.filePath("data")));
    QCOMPARE(m_service.list(rootId), before);
    QCOMPARE(m_service.get("/settings/").data().toObject().value("deviceName").toString(),
             QString("kept"));
}

QTEST_MAIN(ServiceLibraryTest)
#include "tst_service_library.moc"
