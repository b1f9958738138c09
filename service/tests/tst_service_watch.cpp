// The library follows the disk by itself: what is copied, written, renamed or deleted in an
// imported folder shows in the listings without a refresh, against the real service binary.
#include "fixtures.h"
#include "serviceprocess.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class ServiceWatchTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void slowCopyIsReadOnceWhole();
    void followsChanges_data();
    void followsChanges();
    void renamesKeepIds();
    void burstIsFewTransactions();
    void catchesUpAfterRestart();
    void missingFolderKeepsEntriesUntilBack();
    void removedFolderIsNoLongerWatched();
    void removalsStick_data();
    void removalsStick();
    void filtersAreKept();
    void nothingChangedKeepsUpdateId();

private:
    bool startService() { return m_service.start(m_temp.filePath("data"), { "--lan-port", "0" }); }
    qint64 updateId();
    // How many imports and rescans of folder have ended.
    int passesOf(const QString &folder) const;
    // A new folder holding copies of small.mp4 under the given names, imported and watched;
    // returns its id.
    qint64 importTree(const QString &name, const QStringList &videos);
    QString folder(const QString &name) const { return m_temp.filePath("media/" + name); }
    QString clip(const QString &name) const { return m_clips + "/" + name; }
    // Every entry below folder id as "Sub/name", each folder before what it holds.
    QStringList tree(qint64 id, const QString &prefix = {});
    QJsonObject entryAt(qint64 id, const QString &relativePath);
    struct Reads
    {
        int read = 0;
        int failed = 0;
        int passes = 0; // imports and rescans that read anything
    };
    // What the service's log tells of the imports and rescans of folder.
    Reads readsOf(const QString &folder) const;
    QString log() const;

    QTemporaryDir m_temp;
    QString m_clips;
    ServiceProcess m_service;
};

void ServiceWatchTest::initTestCase()
{
    QVERIFY(m_temp.isValid());
    m_clips = m_temp.filePath("clips");
    QString error;
    QVERIFY2(fixtures::make(m_clips, { "small.mp4", "clip360.mkv" }, error), qPrintable(error));
    // Hard links share this time; a file changed just now could still be being written.
    QFile clip(m_clips + "/small.mp4");
    QVERIFY(clip.open(QIODevice::ReadWrite));
    QVERIFY(clip.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                             QFileDevice::FileModificationTime));
    QVERIFY(startService());
}

qint64 ServiceWatchTest::updateId()
{
    const ServiceReply info = m_service.get(m_service.lanUrl("/api/info"));
    return info.data().toObject().value("systemUpdateId").toVariant().toLongLong();
}

int ServiceWatchTest::passesOf(const QString &folder) const
{
    return log().count("imported folder " + folder + " as ");
}

qint64 ServiceWatchTest::importTree(const QString &name, const QStringList &videos)
{
    QDir().mkpath(folder(name));
    for (const QString &video : videos) {
        if (!fixtures::copy(clip("small.mp4"), folder(name) + "/" + video))
            return -1;
    }
    const ServiceReply reply = m_service.importPath(folder(name));
    // What the tests change from here on must reach the service as events.
    const QString watching = "watching " + folder(name) + " (";
    if (reply.code() != 0 || !QTest::qWaitFor([&] { return log().contains(watching); }, 5000))
        return -1;
    return reply.data().toObject().value("id").toInt();
}

QStringList ServiceWatchTest::tree(qint64 id, const QString &prefix)
{
    QStringList paths;
    for (const QJsonValue &value : m_service.list(id)) {
        const QJsonObject entry = value.toObject();
        paths << prefix + entry.value("name").toString();
        if (entry.value("type").toString() == "directory")
            paths << tree(entry.value("id").toInt(), paths.last() + "/");
    }
    if (prefix.isEmpty())
        paths.sort();
    return paths;
}

QJsonObject ServiceWatchTest::entryAt(qint64 id, const QString &relativePath)
{
    QJsonObject entry;
    for (const QString &name : relativePath.split('/')) {
        entry = entryNamed(m_service.list(id), name);
        id = entry.value("id").toInt();
    }
    return entry;
}

QString ServiceWatchTest::log() const
{
    QString text;
    const QDir logs(m_temp.filePath("data/logs"));
    for (const QString &name : logs.entryList({ "*.txt" }, QDir::Files, QDir::Name)) {
        QFile file(logs.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

ServiceWatchTest::Reads ServiceWatchTest::readsOf(const QString &folder) const
{
    const QRegularExpression line("imported folder " + QRegularExpression::escape(folder)
                                  + " as \\d+: (\\d+) indexed, (\\d+) failed");
    Reads reads;
    auto match = line.globalMatch(log());
    while (match.hasNext()) {
        const auto found = match.next();
        const int read = found.captured(1).toInt();
        const int failed = found.captured(2).toInt();
        reads.read += read;
        reads.failed += failed;
        reads.passes += read + failed > 0 ? 1 : 0;
    }
    return reads;
}

void ServiceWatchTest::slowCopyIsReadOnceWhole()
{
    const qint64 id = importTree("Slow", {});
    QVERIFY(id > 0);
    QFile source(clip("small.mp4"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    QFile target(folder("Slow") + "/slow.mp4");
    QVERIFY(target.open(QIODevice::WriteOnly));
    // Six pieces over about three seconds, each pause shorter than the quiet time.
    const int piece = bytes.size() / 6 + 1;
    for (int offset = 0; offset < bytes.size(); offset += piece) {
        QVERIFY(target.write(bytes.mid(offset, piece)) > 0);
        QVERIFY(target.flush());
        QTest::qWait(500);
        QVERIFY(tree(id).isEmpty());
    }
    target.close();

    QTRY_COMPARE_WITH_TIMEOUT(tree(id), QStringList { "slow.mp4" }, 10000);
    const QJsonObject metadata = entryAt(id, "slow.mp4").value("metadata").toObject();
    QCOMPARE(metadata.value("width").toInt(), 320);
    QVERIFY(qAbs(metadata.value("duration").toInt() - 1000) <= 100);
    QVERIFY(!metadata.value("cover_img").toString().isEmpty());
    // Read once, when whole: a reading of the unfinished file would count as a failure.
    const Reads reads = readsOf(folder("Slow"));
    QCOMPARE(reads.read, 1);
    QCOMPARE(reads.failed, 0);
}

void ServiceWatchTest::followsChanges_data()
{
    QTest::addColumn<QStringList>("expected");
    // A video whose metadata must match what is on the disk now.
    QTest::addColumn<QString>("probed");
    QTest::addColumn<int>("width");
    QTest::newRow("delete") << QStringList { "a.mp4" } << QString() << 0;
    QTest::newRow("rename") << QStringList { "a.mp4", "b renamed.mp4" } << "b renamed.mp4" << 320;
    QTest::newRow("new subfolders")
        << QStringList { "Sub", "Sub/Deep", "Sub/Deep/c.mp4", "a.mp4", "b.mp4" } << "Sub/Deep/c.mp4"
        << 320;
    QTest::newRow("partial download")
        << QStringList { "a.mp4", "b.mp4", "v.mp4" } << "v.mp4" << 320;
    QTest::newRow("replaced in place") << QStringList { "a.mp4", "b.mp4" } << "b.mp4" << 640;
}

void ServiceWatchTest::followsChanges()
{
    QFETCH(QStringList, expected);
    QFETCH(QString, probed);
    QFETCH(int, width);
    const QString tag = QTest::currentDataTag();
    const QString root = folder(tag);
    const qint64 id = importTree(tag, { "a.mp4", "b.mp4" });
    QVERIFY(id > 0);
    const int untouched = entryAt(id, "a.mp4").value("id").toInt();

    if (tag == "delete") {
        QVERIFY(QFile::remove(root + "/b.mp4"));
    } else if (tag == "rename") {
        QVERIFY(QFile::rename(root + "/b.mp4", root + "/b renamed.mp4"));
    } else if (tag == "new subfolders") {
        QVERIFY(fixtures::copy(clip("small.mp4"), root + "/Sub/Deep/c.mp4"));
    } else if (tag == "partial download") {
        for (const char *name : { "v.mp4.crdownload", "v.mp4.!qB", "v.tmp", ".v.mp4" })
            QVERIFY(fixtures::copy(clip("small.mp4"), root + "/" + name));
        QVERIFY(fixtures::copy(clip("small.mp4"), root + "/v.mp4.part"));
        QVERIFY(QFile::rename(root + "/v.mp4.part", root + "/v.mp4"));
    } else if (tag == "replaced in place") {
        QFile replacement(clip("clip360.mkv"));
        QVERIFY(replacement.open(QIODevice::ReadOnly));
        QVERIFY(fixtures::writeText(root + "/b.mp4", replacement.readAll()));
    }

    QTRY_COMPARE_WITH_TIMEOUT(tree(id), expected, 10000);
    if (!probed.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(
            entryAt(id, probed).value("metadata").toObject().value("width").toInt(), width, 5000);
    }
    QCOMPARE(entryAt(id, "a.mp4").value("id").toInt(), untouched);
}

// A player that remembers a video (its place, where it stopped) finds it again after a rename.
void ServiceWatchTest::renamesKeepIds()
{
    const qint64 id = importTree("Renames", { "a.mp4" });
    QVERIFY(id > 0);
    QVERIFY(fixtures::copy(clip("clip360.mkv"), folder("Renames") + "/Old/c.mkv"));
    QTRY_COMPARE_WITH_TIMEOUT(tree(id), (QStringList { "Old", "Old/c.mkv", "a.mp4" }), 10000);
    const int video = entryAt(id, "a.mp4").value("id").toInt();
    const int inner = entryAt(id, "Old/c.mkv").value("id").toInt();
    const int folderId = entryAt(id, "Old").value("id").toInt();
    const int reads = readsOf(folder("Renames")).read;

    QVERIFY(QFile::rename(folder("Renames") + "/a.mp4", folder("Renames") + "/a again.mp4"));
    QVERIFY(QDir().rename(folder("Renames") + "/Old", folder("Renames") + "/New"));
    QTRY_COMPARE_WITH_TIMEOUT(tree(id), (QStringList { "New", "New/c.mkv", "a again.mp4" }), 10000);
    QCOMPARE(entryAt(id, "a again.mp4").value("id").toInt(), video);
    QCOMPARE(entryAt(id, "New").value("id").toInt(), folderId);
    QCOMPARE(entryAt(id, "New/c.mkv").value("id").toInt(), inner);
    QCOMPARE(entryAt(id, "New/c.mkv").value("metadata").toObject().value("width").toInt(), 640);
    // Nothing was read again.
    QCOMPARE(readsOf(folder("Renames")).read, reads);
}

void ServiceWatchTest::burstIsFewTransactions()
{
    const qint64 id = importTree("Burst", { "first.mp4" });
    QVERIFY(id > 0);
    for (int i = 0; i < 200; ++i)
        QVERIFY(fixtures::link(clip("small.mp4"), folder("Burst") + QString("/%1.mp4").arg(i)));
    QTRY_COMPARE_WITH_TIMEOUT(tree(id).size(), 201, 20000);
    const Reads reads = readsOf(folder("Burst"));
    QCOMPARE(reads.read, 201);
    // The import, then one rescan (two should the burst straddle the start of one), not one
    // transaction per file.
    QVERIFY2(reads.passes <= 3, qPrintable(QString::number(reads.passes)));
}

void ServiceWatchTest::catchesUpAfterRestart()
{
    const qint64 id = importTree("Restart", { "a.mp4", "b.mp4" });
    QVERIFY(id > 0);
    QVERIFY(m_service.terminate() >= 0);
    QVERIFY(QFile::remove(folder("Restart") + "/b.mp4"));
    QVERIFY(fixtures::copy(clip("small.mp4"), folder("Restart") + "/c.mp4"));
    QVERIFY(startService());
    // The catch-up runs behind the control interface, which answers at once.
    const ServiceReply settings = m_service.get("/settings/", 1000);
    QCOMPARE(settings.code(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(tree(id), (QStringList { "a.mp4", "c.mp4" }), 10000);
}

void ServiceWatchTest::missingFolderKeepsEntriesUntilBack()
{
    const qint64 id = importTree("Unplugged", { "a.mp4", "b.mp4" });
    QVERIFY(id > 0);
    const QString away = folder("Unplugged.away");
    QVERIFY(QDir().rename(folder("Unplugged"), away));
    QTRY_VERIFY_WITH_TIMEOUT(log().contains(folder("Unplugged") + " is missing"), 10000);
    QCOMPARE(tree(id), (QStringList { "a.mp4", "b.mp4" }));

    QVERIFY(fixtures::copy(clip("small.mp4"), away + "/c.mp4"));
    QVERIFY(QDir().rename(away, folder("Unplugged")));
    QTRY_COMPARE_WITH_TIMEOUT(tree(id), (QStringList { "a.mp4", "b.mp4", "c.mp4" }), 15000);
}

void ServiceWatchTest::removedFolderIsNoLongerWatched()
{
    const qint64 removed = importTree("Removed", { "a.mp4" });
    const qint64 kept = importTree("Kept", { "a.mp4" });
    QVERIFY(removed > 0 && kept > 0);
    QCOMPARE(m_service.del(QString("/files/%1").arg(removed)).code(), 0);
    QVERIFY(fixtures::copy(clip("small.mp4"), folder("Removed") + "/b.mp4"));
    QVERIFY(fixtures::copy(clip("small.mp4"), folder("Kept") + "/b.mp4"));
    // Both folders were due at the same moment; the one still watched shows it was time.
    QTRY_COMPARE_WITH_TIMEOUT(tree(kept), (QStringList { "a.mp4", "b.mp4" }), 10000);
    QTest::qWait(500);
    QVERIFY(entryNamed(m_service.list(0), "Removed").isEmpty());
}

void ServiceWatchTest::removalsStick_data()
{
    // In a tree holding Sub/a.mp4 and Sub/b.mkv, the person removes one entry from the library
    // (never from the disk); then something happens that makes the tree be rescanned.
    QTest::addColumn<QString>("removed");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("a file copied beside it")
        << "Sub/a.mp4" << QStringList { "Sub", "Sub/b.mkv", "Sub/c.mp4" };
    QTest::newRow("a restart") << "Sub/a.mp4" << QStringList { "Sub", "Sub/b.mkv" };
    QTest::newRow("a file copied into the removed folder") << "Sub" << QStringList { "c.mp4" };
    QTest::newRow("its folder renamed") << "Sub/a.mp4" << QStringList { "Moved", "Moved/b.mkv" };
    QTest::newRow("imported again by the person")
        << "Sub/a.mp4" << QStringList { "Sub", "Sub/a.mp4", "Sub/b.mkv", "Sub/c.mp4" };
    QTest::newRow("a refresh") << "Sub/a.mp4" << QStringList { "Sub", "Sub/b.mkv" };
}

void ServiceWatchTest::removalsStick()
{
    QFETCH(QString, removed);
    QFETCH(QStringList, expected);
    const QString tag = QTest::currentDataTag();
    const QString root = folder(tag);
    const qint64 id = importTree(tag, {});
    QVERIFY(id > 0);
    QVERIFY(fixtures::copy(clip("small.mp4"), root + "/Sub/a.mp4"));
    QVERIFY(fixtures::copy(clip("clip360.mkv"), root + "/Sub/b.mkv"));
    // Old files: a folder renamed just after they were written would be read afresh.
    for (const char *name : { "/Sub/a.mp4", "/Sub/b.mkv" }) {
        QFile file(root + name);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
    }
    QTRY_COMPARE_WITH_TIMEOUT(tree(id), (QStringList { "Sub", "Sub/a.mp4", "Sub/b.mkv" }), 10000);
    const qint64 sub = entryAt(id, "Sub").value("id").toInt();
    QCOMPARE(
        m_service.del(QString("/files/%1").arg(entryAt(id, removed).value("id").toInt())).code(),
        0);
    // A refresh rescans the folder it names.
    const QString rescanned = tag == "a refresh" ? root + "/Sub" : root;
    const int passes = passesOf(rescanned);

    if (tag == "a restart") {
        QVERIFY(m_service.terminate() >= 0);
        QVERIFY(startService());
    } else if (tag == "its folder renamed") {
        QVERIFY(QDir().rename(root + "/Sub", root + "/Moved"));
    } else if (tag == "imported again by the person") {
        QCOMPARE(m_service.importPath(root + "/Sub/a.mp4", sub).code(), 0);
        QVERIFY(fixtures::copy(clip("small.mp4"), root + "/Sub/c.mp4"));
    } else if (tag == "a refresh") {
        QCOMPARE(m_service.importPath(root + "/Sub").code(), 0);
    } else if (removed == "Sub") {
        QVERIFY(fixtures::copy(clip("small.mp4"), root + "/Sub/c.mp4"));
        QVERIFY(fixtures::copy(clip("small.mp4"), root + "/c.mp4"));
    } else {
        QVERIFY(fixtures::copy(clip("small.mp4"), root + "/Sub/c.mp4"));
    }
    // Judged once a rescan has run since.
    QTRY_VERIFY_WITH_TIMEOUT(passesOf(rescanned) > passes, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(tree(id), expected, 10000);
}

// A tree imported for some suffixes only keeps taking only those.
void ServiceWatchTest::filtersAreKept()
{
    QDir().mkpath(folder("Filtered"));
    QVERIFY(fixtures::copy(clip("small.mp4"), folder("Filtered") + "/a.mp4"));
    const QByteArray body = QJsonDocument(QJsonObject { { "path", folder("Filtered") },
                                                        { "filters", QJsonArray { ".mp4" } },
                                                        { "depth", 1 },
                                                        { "pid", 0 } })
                                .toJson(QJsonDocument::Compact);
    const ServiceReply reply = m_service.post("/files", body);
    QCOMPARE(reply.code(), 0);
    const qint64 id = reply.data().toObject().value("id").toInt();
    QTRY_VERIFY_WITH_TIMEOUT(log().contains("watching " + folder("Filtered") + " ("), 5000);
    QVERIFY(fixtures::copy(clip("clip360.mkv"), folder("Filtered") + "/Sub/b.mkv"));
    QVERIFY(fixtures::copy(clip("small.mp4"), folder("Filtered") + "/Sub/c.mp4"));
    QTRY_COMPARE_WITH_TIMEOUT(tree(id), (QStringList { "Sub", "Sub/c.mp4", "a.mp4" }), 10000);
    const int passes = passesOf(folder("Filtered"));
    QVERIFY(m_service.terminate() >= 0);
    QVERIFY(startService());
    QTRY_VERIFY_WITH_TIMEOUT(passesOf(folder("Filtered")) > passes, 10000);
    QCOMPARE(tree(id), (QStringList { "Sub", "Sub/c.mp4", "a.mp4" }));
}

// Players that cache by update id read the whole tree again when it grows.
void ServiceWatchTest::nothingChangedKeepsUpdateId()
{
    const qint64 id = importTree("Unchanged", { "a.mp4", "Sub/b.mp4" });
    QVERIFY(id > 0);
    const qint64 before = updateId();
    QVERIFY(before > 0);
    QCOMPARE(m_service.importPath(folder("Unchanged")).code(), 0);
    QCOMPARE(m_service.importPath(folder("Unchanged") + "/Sub").code(), 0);
    QCOMPARE(updateId(), before);
    const int passes = passesOf(folder("Unchanged"));
    QVERIFY(m_service.terminate() >= 0);
    QVERIFY(startService());
    QTRY_VERIFY_WITH_TIMEOUT(passesOf(folder("Unchanged")) > passes, 10000);
    QCOMPARE(updateId(), before);
}

QTEST_MAIN(ServiceWatchTest)
#include "tst_service_watch.moc"
