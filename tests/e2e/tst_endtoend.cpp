#include "library/videolistmodel.h"
#include "manager/kivmanager.h"
#include "net/httpmanager.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

bool makeClip(const QString &path, int height, double seconds)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 { "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                   QStringLiteral("testsrc=size=%1x%2:rate=10:duration=%3")
                       .arg(height * 16 / 9)
                       .arg(height)
                       .arg(seconds),
                   "-pix_fmt", "yuv420p", path });
    return ffmpeg.waitForFinished(30000) && ffmpeg.exitCode() == 0;
}

struct Row
{
    int id;
    QString name;
    QString definition;
    QString size;
    QString duration;
    int type;
    QString cover;
    QString path;
};

QList<Row> rows(const VideoListModel *model)
{
    QList<Row> result;
    for (int i = 0; i < model->rowCount(); ++i) {
        const QModelIndex index = model->index(i);
        result.append({ index.data(256).toInt(), index.data(257).toString(),
                        index.data(258).toString(), index.data(259).toString(),
                        index.data(260).toString(), index.data(261).toInt(),
                        index.data(262).toString(), index.data(263).toString() });
    }
    return result;
}

const Row *find(const QList<Row> &list, const QString &name)
{
    for (const Row &row : list)
        if (row.name == name)
            return &row;
    return nullptr;
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QProcess service;
    QString baseUrl;
    int lanPort = 0;
    std::unique_ptr<KIVManager> manager;

    QString clips(const QString &relative) const { return work.filePath("clips/" + relative); }

    // Waits for the next model reset, which is what a listing reply ends in.
    bool nextListing(const std::function<void()> &action)
    {
        QSignalSpy resets(manager->model(), &QAbstractItemModel::modelReset);
        action();
        return resets.wait(20000);
    }

    // Starts the service on its library in work and points the assistant core at it.
    void startService()
    {
        service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        service.start(
            QStringLiteral(SERVICE_BINARY),
            { "--port", "0", "--lan-port", "0", "--data-dir", work.filePath("service-data") });
        QVERIFY(service.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(service.canReadLine(), 10000);
        const QByteArray line = service.readLine().trimmed();
        QVERIFY2(line.startsWith("control-port "), line.constData());
        baseUrl = QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(line.mid(13));
        QTRY_VERIFY_WITH_TIMEOUT(service.canReadLine(), 10000);
        const QByteArray lanLine = service.readLine().trimmed();
        QVERIFY2(lanLine.startsWith("lan-port "), lanLine.constData());
        lanPort = lanLine.mid(9).toInt();
        HttpManager::instance()->setServiceBaseUrl(baseUrl);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(work.isValid());
        QVERIFY(QDir().mkpath(clips("Library/Sub")));
        QVERIFY(makeClip(clips("Library/hd.mp4"), 720, 1.5));
        QVERIFY(makeClip(clips("Library/Sub/small.mkv"), 360, 1));
        QFile::copy(clips("Library/hd.mp4"), clips("later.mp4"));
        QFile notes(clips("Library/notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly));

        startService();
        if (QTest::currentTestFailed())
            return;
        HttpManager::instance()->setCloudBaseUrl(
            QStringLiteral("http://127.0.0.1:9")); // nothing listens

        manager = std::make_unique<KIVManager>();
        QSignalSpy name(manager.get(), &KIVManager::userNameChange);
        QSignalSpy firstListing(manager->model(), &QAbstractItemModel::modelReset);
        // Both start-up replies must be in: a root listing that arrived after the first import
        // was sent would take that import's highlight, as any first listing does.
        QTRY_VERIFY_WITH_TIMEOUT(name.size() == 1 && firstListing.size() == 1, 10000);
        QVERIFY(!manager->userName().isEmpty());
        QVERIFY(manager->hasNoneData());
    }

    void cleanupTestCase()
    {
        manager.reset();
        service.terminate();
        QVERIFY(service.waitForFinished(5000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
    }

    void importFolderTree()
    {
        QSignalSpy waits(manager.get(), &KIVManager::showWaitPage);
        QSignalSpy results(manager.get(), &KIVManager::showIportResPage);
        QSignalSpy selected(manager->model(), &VideoListModel::selectIndex);
        QSignalSpy noneData(manager.get(), &KIVManager::hasNoneDataChange);
        manager->addFile(QUrl::fromLocalFile(clips("Library")).toString());
        QCOMPARE(waits.size(), 1);
        QVERIFY(results.wait(30000));
        QCOMPARE(results.at(0).at(0).toString(), QString("导入成功2个文件"));
        QTRY_COMPARE_WITH_TIMEOUT(selected.size(), 1, 10000);

        const QList<Row> root = rows(manager->model());
        QCOMPARE(root.size(), 1);
        QCOMPARE(root[0].name, QString("Library"));
        QCOMPARE(root[0].type, 2);
        QCOMPARE(root[0].path, clips("Library"));
        QCOMPARE(root[0].cover, QString("qrc:/res/image/file_big.png"));
        QCOMPARE(selected.at(0).at(0).toInt(), 0);
        QVERIFY(!manager->hasNoneData());
        QCOMPARE(noneData.size(), 1);
    }

    void browseIntoFoldersAndBack()
    {
        const Row library = rows(manager->model()).at(0);
        QVERIFY(nextListing([&] { manager->fileAction(0, library.id, library.path); }));
        QCOMPARE(manager->curPathList(),
                 QStringList({ "首页", "<font color=\"#99FFFFFF\">Library</font>" }));

        const QList<Row> inside = rows(manager->model());
        QCOMPARE(inside.size(), 2);
        const Row *hd = find(inside, "hd.mp4");
        QVERIFY(hd);
        QCOMPARE(hd->definition, QString("720P"));
        QCOMPARE(hd->duration, QString("0:0:1"));
        QCOMPARE(hd->type, 0);
        const double bytes = QFileInfo(clips("Library/hd.mp4")).size();
        QCOMPARE(hd->size, QString::number(float(bytes / 1024), 'f', 2) + " KB");
        QVERIFY2(hd->cover.endsWith(".jpg"), qPrintable(hd->cover));

        // The cover named by the listing is a JPEG the service serves.
        QNetworkAccessManager network;
        const QString coverPath = QUrl(hd->cover).path();
        QNetworkReply *cover = network.get(QNetworkRequest(QUrl(baseUrl + coverPath)));
        QSignalSpy done(cover, &QNetworkReply::finished);
        QVERIFY(done.wait(10000));
        QVERIFY(cover->readAll().startsWith("\xFF\xD8\xFF"));
        delete cover;

        const Row *sub = find(inside, "Sub");
        QVERIFY(sub);
        QVERIFY(nextListing([&] { manager->fileAction(0, sub->id, sub->path); }));
        QCOMPARE(manager->curPathList(),
                 QStringList({ "首页", "Library", "<font color=\"#99FFFFFF\">Sub</font>" }));
        const QList<Row> deepest = rows(manager->model());
        QCOMPARE(deepest.size(), 1);
        QCOMPARE(deepest[0].definition, QString("360P"));

        QVERIFY(nextListing([&] { manager->setFile(1); }));
        QCOMPARE(rows(manager->model()).size(), 2);
        QVERIFY(nextListing([&] { manager->setFile(0); }));
        QCOMPARE(manager->curId(), 0);
        QCOMPARE(rows(manager->model()).size(), 1);
    }

    void refreshPicksUpNewFilesAndRemoveKeepsThemOnDisk()
    {
        const Row library = rows(manager->model()).at(0);
        QVERIFY(nextListing([&] { manager->fileAction(0, library.id, library.path); }));
        QVERIFY(QFile::copy(clips("later.mp4"), clips("Library/later.mp4")));

        QSignalSpy results(manager.get(), &KIVManager::showIportResPage);
        QVERIFY(nextListing([&] { manager->refresh(); }));
        QCOMPARE(results.size(), 1);
        QList<Row> inside = rows(manager->model());
        QCOMPARE(inside.size(), 3);
        const Row *later = find(inside, "later.mp4");
        QVERIFY(later);

        QVERIFY(nextListing([&] { manager->fileAction(1, later->id, later->path); }));
        inside = rows(manager->model());
        QCOMPARE(inside.size(), 2);
        QVERIFY(!find(inside, "later.mp4"));
        QVERIFY(QFile::exists(clips("Library/later.mp4")));
        QVERIFY(nextListing([&] { manager->setFile(0); }));
    }

    // The settings popup shows where a headset's player reaches the PC: an address of this PC
    // on a network, with the headset port.
    void playerAddressNamesTheLanPort()
    {
        bool networked = false;
        for (const QHostAddress &address : QNetworkInterface::allAddresses())
            networked = networked
                || (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback());
        if (!networked)
            QSKIP("this machine has no network address but the loopback");
        QSignalSpy changed(manager.get(), &KIVManager::lanAddressChange);
        manager->loadLanAddress();
        QVERIFY(changed.wait(10000));
        const QUrl address(manager->lanAddress());
        QCOMPARE(address.scheme(), QString("http"));
        QCOMPARE(address.port(), lanPort);
        const QHostAddress host(address.host());
        QVERIFY2(!host.isLoopback() && QNetworkInterface::allAddresses().contains(host),
                 qPrintable(manager->lanAddress()));
    }

    void renameThePc()
    {
        QSignalSpy names(manager.get(), &KIVManager::userNameChange);
        manager->setPersonalName(QStringLiteral("  书房电脑 "));
        QVERIFY(names.wait(10000));
        QCOMPARE(manager->userName(), QString("书房电脑"));

        QSignalSpy toasts(manager.get(), &KIVManager::showToast);
        manager->setPersonalName(QString(64, QLatin1Char('x')));
        QVERIFY(toasts.wait(10000));
        QCOMPARE(toasts.at(0).at(0).toString(), QString("设置用户名失败！"));
        QCOMPARE(manager->userName(), QString("书房电脑"));
    }

    void cancelALongImport()
    {
        // Many hard links to one clip make an import that takes a while.
        QVERIFY(QDir().mkpath(clips("Long")));
        for (int i = 0; i < 300; ++i)
            QCOMPARE(
                ::link(
                    QFile::encodeName(clips("later.mp4")).constData(),
                    QFile::encodeName(clips(QStringLiteral("Long/clip%1.mp4").arg(i))).constData()),
                0);
        QSignalSpy waits(manager.get(), &KIVManager::showWaitPage);
        QSignalSpy results(manager.get(), &KIVManager::showIportResPage);
        QSignalSpy toasts(manager.get(), &KIVManager::showToast);
        manager->addFile(clips("Long"));
        QCOMPARE(waits.size(), 1);
        QTest::qWait(300);
        manager->cacelAction(waits.at(0).at(0).toString());
        // A cancelled import is answered without a body: no result page follows.
        QVERIFY(!results.wait(3000));
        // Nor is it taken for a service that went away.
        QCOMPARE(toasts.size(), 0);
        QVERIFY(nextListing([&] { manager->loadFolder(0); }));
        QCOMPARE(rows(manager->model()).size(), 1);
    }

    // The service crashed and is not back yet: the import's wait page must not stay up for good.
    // Once the service is up again, the same import goes through as usual.
    void importWhileTheServiceIsDown()
    {
        QVERIFY(QDir().mkpath(clips("Fresh")));
        QVERIFY(QFile::copy(clips("later.mp4"), clips("Fresh/fresh.mp4")));
        service.kill();
        QVERIFY(service.waitForFinished(5000));

        QSignalSpy waits(manager.get(), &KIVManager::showWaitPage);
        QSignalSpy closes(manager.get(), &KIVManager::closeWaitPage);
        QSignalSpy toasts(manager.get(), &KIVManager::showToast);
        QSignalSpy results(manager.get(), &KIVManager::showIportResPage);
        manager->addFile(clips("Fresh"));
        QCOMPARE(waits.size(), 1);
        QVERIFY(closes.wait(10000));
        QCOMPARE(closes.at(0).at(0), waits.at(0).at(0));
        QCOMPARE(toasts.size(), 1);
        QCOMPARE(toasts.at(0).at(0).toString(),
                 QString("媒体服务未运行，正在重新启动，请稍后再试"));

        startService();
        if (QTest::currentTestFailed())
            return;
        manager->addFile(clips("Fresh"));
        QCOMPARE(waits.size(), 2);
        QVERIFY(results.wait(30000));
        QCOMPARE(results.at(0).at(0).toString(), QString("导入成功1个文件"));
        QCOMPARE(closes.size(), 1);
        QCOMPARE(toasts.size(), 1);
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
