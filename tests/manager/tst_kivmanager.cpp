#include "library/videolistmodel.h"
#include "logcapture.h"
#include "manager/kivmanager.h"
#include "net/httpmanager.h"
#include "testresponder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

namespace {

QJsonObject parse(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

QJsonObject folderEntry(int id, int pid, const QString &path, const QString &realPath)
{
    return { { "id", id },
             { "pid", pid },
             { "name", path.section('/', -1) },
             { "path", path },
             { "real_path", realPath },
             { "type", "directory" } };
}

QJsonObject videoEntry(int id, int pid, const QString &realPath)
{
    return { { "id", id },
             { "pid", pid },
             { "name", realPath.section('/', -1) },
             { "real_path", realPath },
             { "type", "video" } };
}

QJsonObject reply(int kind, int code, const QJsonValue &data = QJsonValue(),
                  const QString &msg = QString())
{
    QJsonObject object { { "_type", kind }, { "code", code } };
    if (!data.isUndefined() && !data.isNull())
        object.insert("data", data);
    if (!msg.isNull())
        object.insert("msg", msg);
    return object;
}

// The target without its trailing reqId, e.g. "/files?id=0".
QString pathOf(const RecordedRequest &request)
{
    QString target = QString::fromUtf8(request.target);
    return target.left(target.indexOf(QRegularExpression("[?&]reqId=")));
}

QStringList requestLines(const QList<RecordedRequest> &requests)
{
    QStringList lines;
    for (const RecordedRequest &request : requests)
        lines << QString::fromUtf8(request.method) + ' ' + pathOf(request);
    return lines;
}

// A loopback port where nothing listens.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

} // namespace

class KIVManagerTest : public QObject
{
    Q_OBJECT

    TestResponder service;
    TestResponder cloud;
    QTemporaryDir disk;

    // A manager past its start-up step, with the start-up requests already answered and forgotten.
    std::unique_ptr<KIVManager> freshManager()
    {
        // Let requests of an earlier test land first, so that they are not counted here.
        QTest::qWait(100);
        service.clearRequests();
        auto manager = std::make_unique<KIVManager>();
        [&] { QTRY_COMPARE_WITH_TIMEOUT(service.requests().size(), 2, 5000); }();
        service.clearRequests();
        LogCapture::clear();
        return manager;
    }

    QString makeDir(const QString &relative)
    {
        QDir().mkpath(disk.filePath(relative));
        return disk.filePath(relative);
    }

    // Opens /A and then /A/B as the user would: listing, then a double click on the folder.
    std::unique_ptr<KIVManager> managerInsideAB()
    {
        auto manager = freshManager();
        QJsonObject listing = reply(2, 0, QJsonArray { folderEntry(5, 0, "/A", makeDir("A")) });
        manager->onReplayBack(listing);
        manager->fileAction(0, 5, makeDir("A"));
        listing = reply(2, 0, QJsonArray { folderEntry(9, 5, "/A/B", makeDir("A/B")) });
        manager->onReplayBack(listing);
        manager->fileAction(0, 9, makeDir("A/B"));
        [&] { QTRY_COMPARE_WITH_TIMEOUT(service.requests().size(), 2, 5000); }();
        service.clearRequests();
        return manager;
    }

    QList<RecordedRequest> settledRequests(int expected)
    {
        QTest::qWait(expected == 0 ? 150 : 0);
        [&] { QTRY_COMPARE_WITH_TIMEOUT(service.requests().size(), expected, 5000); }();
        return service.requests();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(service.isListening());
        QVERIFY(cloud.isListening());
        // Bodies that are not JSON reach no one, so only the replies a test hands over take effect.
        service.setReply(QByteArray());
        cloud.setReply(R"({"errCode":0})");
        HttpManager::instance()->setServiceBaseUrl(service.baseUrl());
        HttpManager::instance()->setCloudBaseUrl(cloud.baseUrl());
    }

    void init() { service.clearRequests(); }

    void startupStepListsRootAndAsksForTheName()
    {
        QTest::qWait(100);
        service.clearRequests();
        QElapsedTimer clock;
        clock.start();
        KIVManager manager;
        QTRY_COMPARE_WITH_TIMEOUT(service.requests().size(), 2, 5000);
        QVERIFY2(clock.elapsed() >= 250, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(requestLines(service.requests()),
                 QStringList({ "GET /files?id=0", "GET /settings/" }));
    }

    void breadcrumbLabels()
    {
        auto manager = freshManager();
        QCOMPARE(manager->curPathList(), QStringList { "<font color=\"#99FFFFFF\">首页</font>" });
        manager = managerInsideAB();
        QCOMPARE(manager->curPath(), QString("/A/B"));
        QCOMPARE(manager->curPathList(),
                 QStringList({ "首页", "A", "<font color=\"#99FFFFFF\">B</font>" }));
    }

    void setFileWalksUpTheBreadcrumbs_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<int>("curId");
        QTest::newRow("home label walks two parents")
            << 0 << QStringList { "GET /files?id=0" } << 0;
        QTest::newRow("middle label") << 1 << QStringList { "GET /files?id=5" } << 5;
        QTest::newRow("own label sends nothing") << 2 << QStringList {} << 9;
        QTest::newRow("past the end lists the folder again")
            << 5 << QStringList { "GET /files?id=9" } << 9;
    }

    void setFileWalksUpTheBreadcrumbs()
    {
        QFETCH(int, index);
        QFETCH(QStringList, requests);
        QFETCH(int, curId);
        auto manager = managerInsideAB();
        QSignalSpy pathChanges(manager.get(), &KIVManager::curPathChange);
        manager->setFile(index);
        QCOMPARE(requestLines(settledRequests(requests.size())), requests);
        QCOMPARE(manager->curId(), curId);
        QCOMPARE(pathChanges.size(), curId == 9 ? 0 : 1);
    }

    void loadingTheCurrentFolderEmitsNothing()
    {
        auto manager = freshManager();
        QSignalSpy pathChanges(manager.get(), &KIVManager::curPathChange);
        manager->loadFolder(0);
        QCOMPARE(requestLines(settledRequests(1)), QStringList { "GET /files?id=0" });
        QCOMPARE(pathChanges.size(), 0);
    }

    void unknownFolderReadsAsDefaultNode()
    {
        auto manager = freshManager();
        manager->loadFolder(42);
        QCOMPARE(manager->curPathList(), QStringList { "<font color=\"#99FFFFFF\">首页</font>" });
        // Opened later, the folder keeps the default node it got when first read.
        QJsonObject listing = reply(2, 0, QJsonArray { folderEntry(42, 0, "/X", makeDir("X")) });
        manager->onReplayBack(listing);
        manager->fileAction(0, 42, makeDir("X"));
        QCOMPARE(manager->curPath(), QString());
    }

    void listingReplies()
    {
        auto manager = freshManager();
        QSignalSpy noneData(manager.get(), &KIVManager::hasNoneDataChange);
        QSignalSpy resets(manager->model(), &QAbstractItemModel::modelReset);

        QJsonObject emptyRoot = reply(2, 0, QJsonArray());
        manager->onReplayBack(emptyRoot);
        QCOMPARE(noneData.size(), 0); // already true
        QCOMPARE(resets.size(), 1);

        QJsonObject failed = reply(2, 3, QJsonArray { videoEntry(1, 0, "/v/a.mp4") });
        manager->onReplayBack(failed);
        QCOMPARE(resets.size(), 1);
        QCOMPARE(manager->model()->rowCount(), 0);

        QJsonObject filled = reply(2, 0, QJsonArray { videoEntry(1, 0, "/v/a.mp4") });
        manager->onReplayBack(filled);
        QCOMPARE(noneData.size(), 1);
        QVERIFY(!manager->hasNoneData());
        QCOMPARE(manager->model()->rowCount(), 1);

        // An empty folder below the root is not the empty state.
        manager->loadFolder(7);
        manager->onReplayBack(emptyRoot);
        QVERIFY(!manager->hasNoneData());
        QCOMPARE(noneData.size(), 1);
    }

    void pendingPathIsConsumedByTheFirstListing()
    {
        auto manager = freshManager();
        manager->addFile(disk.filePath("clip.mp4"));
        QCOMPARE(manager->pendingSelectPath(), disk.filePath("clip.mp4"));
        QSignalSpy selected(manager->model(), &VideoListModel::selectIndex);
        QJsonObject listing = reply(2, 0,
                                    QJsonArray { videoEntry(1, 0, "/z/other.mp4"),
                                                 videoEntry(2, 0, disk.filePath("clip.mp4")) });
        manager->onReplayBack(listing);
        QCOMPARE(selected.size(), 1);
        QVERIFY(manager->pendingSelectPath().isEmpty());
        manager->onReplayBack(listing);
        QCOMPARE(selected.size(), 1);
    }

    // Open folder A, then click the home crumb at once: whichever answer comes last, the view
    // shows the home folder.
    void staleListingReplyIsIgnored_data()
    {
        QTest::addColumn<QStringList>("answered"); // listings answered, in order of arrival
        QTest::addColumn<QStringList>("shown");
        const QStringList home { "A", "new.mp4" };
        QTest::newRow("folder left answers last") << QStringList { "home", "A" } << home;
        QTest::newRow("folder left answers first") << QStringList { "A", "home" } << home;
        QTest::newRow("only the folder left answers") << QStringList { "A" } << QStringList { "A" };
    }

    void staleListingReplyIsIgnored()
    {
        QFETCH(QStringList, answered);
        QFETCH(QStringList, shown);
        auto manager = freshManager();
        QJsonObject listing = reply(2, 0, QJsonArray { folderEntry(5, 0, "/A", makeDir("A")) });
        manager->onReplayBack(listing);
        manager->fileAction(0, 5, makeDir("A"));
        manager->setFile(0);
        QMap<QString, QString> reqIds; // by the folder id asked for
        for (const RecordedRequest &request : settledRequests(2)) {
            const QUrlQuery query(QUrl(QString::fromUtf8(request.target)));
            reqIds.insert(query.queryItemValue("id"), query.queryItemValue("reqId"));
        }
        QCOMPARE(reqIds.keys(), QStringList({ "0", "5" }));

        const QMap<QString, QJsonArray> entries {
            { "A", QJsonArray { videoEntry(6, 5, disk.filePath("A/inA.mp4")) } },
            { "home",
              QJsonArray { folderEntry(5, 0, "/A", makeDir("A")),
                           videoEntry(7, 0, disk.filePath("new.mp4")) } },
        };
        for (const QString &folder : answered) {
            QJsonObject answer = reply(2, 0, entries.value(folder));
            answer.insert("_reqId", reqIds.value(folder == "A" ? "5" : "0"));
            manager->onReplayBack(answer);
        }
        QStringList names;
        for (int row = 0; row < manager->model()->rowCount(); ++row)
            names << manager->model()->index(row).data(VideoListModel::FileNameRole).toString();
        names.sort();
        QCOMPARE(names, shown);
    }

    void importReplies_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("pending");
        QTest::addColumn<QStringList>("pages");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<int>("selections");

        QTest::newRow("folder, no failures") << QByteArray(
            R"({"_type":0,"code":0,"data":{"type":"directory","successCount":3,"failureCount":0,"pid":0}})")
                                             << false << QStringList { "导入成功3个文件" }
                                             << QStringList { "GET /files?id=0" } << 0;
        QTest::newRow("folder with failures") << QByteArray(
            R"({"_type":0,"code":0,"data":{"type":"directory","successCount":5,"failureCount":2}})")
                                              << false
                                              << QStringList { "导入成功5个文件，导入失败2个" }
                                              << QStringList { "GET /files?id=0" } << 0;
        QTest::newRow("single file lists its folder")
            << QByteArray(R"({"_type":0,"code":0,"data":{"type":"video","pid":12}})") << false
            << QStringList {} << QStringList { "GET /files?id=12" } << 0;
        QTest::newRow("already there, other folder")
            << QByteArray(R"({"_type":0,"code":-2,"data":{"pid":4}})") << true << QStringList {}
            << QStringList { "GET /files?id=4" } << 0;
        QTest::newRow("already there, shown folder")
            << QByteArray(R"({"_type":0,"code":-2,"data":{"pid":0}})") << true << QStringList {}
            << QStringList {} << 1;
        QTest::newRow("already there, nothing pending")
            << QByteArray(R"({"_type":0,"code":-2,"data":{"pid":0}})") << false << QStringList {}
            << QStringList {} << 0;
        QTest::newRow("failure with msg")
            << QByteArray(R"({"_type":0,"code":7,"msg":"磁盘不可读"})") << false
            << QStringList { "导入失败: 磁盘不可读" } << QStringList {} << 0;
        QTest::newRow("failure without msg") << QByteArray(R"({"_type":0,"code":7})") << false
                                             << QStringList { "导入失败: " } << QStringList {} << 0;
    }

    void importReplies()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, pending);
        QFETCH(QStringList, pages);
        QFETCH(QStringList, requests);
        QFETCH(int, selections);

        auto manager = freshManager();
        const QString clip = disk.filePath("shown.mp4");
        QJsonObject listing = reply(2, 0, QJsonArray { videoEntry(3, 0, clip) });
        manager->onReplayBack(listing);
        if (pending) {
            manager->addFile(clip);
            settledRequests(1);
            service.clearRequests();
        }
        QSignalSpy resultPages(manager.get(), &KIVManager::showIportResPage);
        QSignalSpy selected(manager->model(), &VideoListModel::selectIndex);
        LogCapture log;
        LogCapture::clear();
        QJsonObject object = parse(json);
        manager->onReplayBack(object);

        QStringList shown;
        for (const QList<QVariant> &args : resultPages)
            shown << args.at(0).toString();
        QCOMPARE(shown, pages);
        QCOMPARE(requestLines(settledRequests(requests.size())), requests);
        QCOMPARE(selected.size(), selections);
        // The whole reply, in the debug form of a JSON object.
        QString expectedLog;
        QDebug(&expectedLog) << object;
        QCOMPARE(LogCapture::lines(QtInfoMsg).filter("QJsonObject"),
                 QStringList { expectedLog.trimmed() });
    }

    void otherReplies()
    {
        auto manager = freshManager();
        QSignalSpy toasts(manager.get(), &KIVManager::showToast);
        QSignalSpy names(manager.get(), &KIVManager::userNameChange);

        QJsonObject removed = reply(1, 9);
        manager->onReplayBack(removed);
        QCOMPARE(requestLines(settledRequests(1)), QStringList { "GET /files?id=0" });

        QJsonObject named = reply(4, 0, QJsonObject { { "deviceName", "客厅电脑" } });
        manager->onReplayBack(named);
        QCOMPARE(manager->userName(), QString("客厅电脑"));
        named = reply(3, 0, QJsonObject { { "deviceName", "客厅电脑" } });
        manager->onReplayBack(named);
        QCOMPARE(names.size(), 2); // also when unchanged

        QJsonObject refusedSet = reply(3, 1);
        manager->onReplayBack(refusedSet);
        QJsonObject refusedGet = reply(4, 1);
        manager->onReplayBack(refusedGet);
        QCOMPARE(toasts.size(), 2);
        QCOMPARE(toasts.at(0).at(0).toString(), QString("设置用户名失败！"));
        QCOMPARE(toasts.at(1).at(0).toString(), QString("获取用户名失败！"));
        QCOMPARE(manager->userName(), QString("客厅电脑"));

        QJsonObject unknown = reply(9, 0, QJsonArray { videoEntry(1, 0, "/a.mp4") });
        manager->onReplayBack(unknown);
        QCOMPARE(manager->model()->rowCount(), 0);
        QCOMPARE(settledRequests(1).size(), 1);
    }

    void addFileItems_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("toast");
        QTest::addColumn<QString>("sentPath");

        const QString dir = QDir::tempPath(); // stands for any absolute folder prefix
        QTest::newRow("file URL keeps its leading slash")
            << "file:///tmp/some%20dir/Clip.MKV" << QString() << "/tmp/some dir/Clip.MKV";
        QTest::newRow("plain path with %20")
            << "/tmp/my%20clip.mp4" << QString() << "/tmp/my clip.mp4";
        QTest::newRow("unsupported suffix") << "/tmp/readme.txt"
                                            << "不支持的文件格式：txt" << QString();
        QTest::newRow("no dot") << "/tmp/README"
                                << "不支持的文件格式：" << QString();
        QTest::newRow("dot only in a folder name") << "/tmp/a.mp4/clip"
                                                   << "不支持的文件格式：" << QString();
        QTest::newRow("nonexistent but supported")
            << "/nowhere/at/all.webm" << QString() << "/nowhere/at/all.webm";
        QTest::newRow("empty argument") << ""
                                        << "文件信息异常！" << QString();
    }

    void addFileItems()
    {
        QFETCH(QString, item);
        QFETCH(QString, toast);
        QFETCH(QString, sentPath);
        auto manager = freshManager();
        QSignalSpy toasts(manager.get(), &KIVManager::showToast);
        QSignalSpy waits(manager.get(), &KIVManager::showWaitPage);
        manager->addFile(item);
        if (!toast.isNull()) {
            QCOMPARE(toasts.size(), 1);
            QCOMPARE(toasts.at(0).at(0).toString(), toast);
            QCOMPARE(settledRequests(0).size(), 0);
            QVERIFY(manager->pendingSelectPath().isEmpty());
            return;
        }
        const QList<RecordedRequest> sent = settledRequests(1);
        QCOMPARE(requestLines(sent), QStringList { "POST /files" });
        const QJsonObject body = parse(sent.at(0).body);
        QCOMPARE(body.value("path").toString(), sentPath);
        QCOMPARE(body.value("pid").toInt(), 0);
        QCOMPARE(body.value("depth").toInt(), 1);
        QCOMPARE(body.value("filters").toArray().size(), 11);
        QCOMPARE(body.value("filters").toArray().at(0).toString(), QString(".mkv"));
        QCOMPARE(waits.size(), 0);
        QCOMPARE(manager->pendingSelectPath(), sentPath);
        QCOMPARE(toasts.size(), 0);
    }

    void droppedFolderMakesTheRootCurrentAtOnce()
    {
        auto manager = managerInsideAB();
        QSignalSpy pathChanges(manager.get(), &KIVManager::curPathChange);
        QSignalSpy waits(manager.get(), &KIVManager::showWaitPage);
        const QString folder = makeDir("drop me");
        manager->addFile(QUrl::fromLocalFile(folder).toString());
        QCOMPARE(manager->curId(), 0);
        QCOMPARE(pathChanges.size(), 1);
        QCOMPARE(manager->curPathList(), QStringList { "<font color=\"#99FFFFFF\">首页</font>" });
        const QList<RecordedRequest> sent = settledRequests(1);
        QCOMPARE(requestLines(sent), QStringList { "POST /files" });
        QCOMPARE(parse(sent.at(0).body).value("path").toString(), folder);
        QCOMPARE(waits.size(), 1);
        QVERIFY(QString::fromUtf8(sent.at(0).target).endsWith(waits.at(0).at(0).toString()));
        QVERIFY(manager->lastImportWasFolder());
    }

    void importReportFollowsTheLastAcceptedItem()
    {
        auto manager = freshManager();
        manager->addFile(makeDir("one"));
        manager->addFile(disk.filePath("two.mov"));
        manager->addFile(disk.filePath("three.txt")); // refused: changes nothing
        QCOMPARE(settledRequests(2).size(), 2);
        QCOMPARE(manager->pendingSelectPath(), disk.filePath("two.mov"));

        const int before = HttpManager::instance()->pendingEventCount();
        manager->importFileReport(true, false); // a drop: the folder argument is ignored
        manager->importFileReport(false, true);
        QCOMPARE(HttpManager::instance()->pendingEventCount(), before + 2);
        cloud.clearRequests();
        HttpManager::instance()->flushEvents(false);
        QCOMPARE(cloud.requests().size(), 1);
        const QJsonArray events = QJsonDocument::fromJson(cloud.requests().at(0).body).array();
        const QJsonObject drop = events.at(events.size() - 2).toObject();
        const QJsonObject menu = events.at(events.size() - 1).toObject();
        QCOMPARE(drop.value("eventId").toString(),
                 QString("velnorAssistant_velnor_home_import_importFile_pit_click"));
        QCOMPARE(drop.value("extraData").toObject().value("importType").toString(),
                 QString("panelDrag"));
        QCOMPARE(menu.value("eventId").toString(),
                 QString("velnorAssistant_velnor_home_import_importFile_pit_click"));
        QCOMPARE(menu.value("extraData").toObject().value("importType").toString(),
                 QString("menuClick"));
    }

    // The model only names its sort events; they reach the upload through the manager, in order.
    void sortChangesAreUploadedInOrder()
    {
        auto manager = freshManager();
        HttpManager::instance()->flushEvents(false);
        cloud.clearRequests();
        manager->setSortType(2, 1);
        manager->setSortType(2, 1);
        manager->setSortType(0, 1);
        HttpManager::instance()->flushEvents(false);
        QCOMPARE(cloud.requests().size(), 1);
        QStringList sent;
        const QJsonArray events = QJsonDocument::fromJson(cloud.requests().at(0).body).array();
        for (const QJsonValue &event : events)
            sent << event["eventId"].toString() + '='
                    + event["extraData"]["switchResult"].toString();
        const QString prefix = QStringLiteral("velnorAssistant_velnor_home_sort_");
        QCOMPARE(
            sent,
            QStringList({ prefix + "sortBy_pit_switch=Size", prefix + "sortType_pit_switch=ASC",
                          prefix + "sortBy_pit_switch=Name" }));
    }

    void refreshBelowTheRootReimportsTheFolder()
    {
        auto manager = managerInsideAB();
        QSignalSpy waits(manager.get(), &KIVManager::showWaitPage);
        manager->refresh();
        const QList<RecordedRequest> sent = settledRequests(1);
        QCOMPARE(requestLines(sent), QStringList { "POST /files" });
        QCOMPARE(parse(sent.at(0).body).value("path").toString(), makeDir("A/B"));
        QCOMPARE(parse(sent.at(0).body).value("pid").toInt(), 0);
        QCOMPARE(waits.size(), 1);
        QCOMPARE(manager->curId(), 9);

        auto atRoot = freshManager();
        QSignalSpy rootWaits(atRoot.get(), &KIVManager::showWaitPage);
        atRoot->refresh();
        QCOMPARE(requestLines(settledRequests(1)), QStringList { "GET /files?id=0" });
        QCOMPARE(rootWaits.size(), 0);
    }

    // With the service down nothing ever answers; a wait page up for the import must not stay
    // up for good, and the person must learn why.
    void unreachableServiceClosesTheWaitPage_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("waitPage");
        QTest::addColumn<bool>("told");
        QTest::newRow("folder import") << "folder" << true << true;
        QTest::newRow("refresh below the root") << "refresh" << true << true;
        QTest::newRow("single file, no page") << "file" << false << true;
        // The start-up listing and name may go out before the service listens.
        QTest::newRow("listing, name, removal") << "other" << false << false;
    }

    void unreachableServiceClosesTheWaitPage()
    {
        QFETCH(QString, action);
        QFETCH(bool, waitPage);
        QFETCH(bool, told);
        auto manager = action == "refresh" ? managerInsideAB() : freshManager();
        QSignalSpy waits(manager.get(), &KIVManager::showWaitPage);
        QSignalSpy closes(manager.get(), &KIVManager::closeWaitPage);
        QSignalSpy toasts(manager.get(), &KIVManager::showToast);
        HttpManager *http = HttpManager::instance();
        QSignalSpy unreachable(http, &HttpManager::serviceUnreachable);
        http->setServiceBaseUrl(QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
        const auto restore = qScopeGuard([&] { http->setServiceBaseUrl(service.baseUrl()); });

        int sent = 1;
        if (action == "folder") {
            manager->addFile(makeDir("unreached"));
        } else if (action == "refresh") {
            manager->refresh();
        } else if (action == "file") {
            manager->addFile(disk.filePath("unreached.mp4"));
        } else {
            manager->loadFolder(0);
            manager->setPersonalName("书房");
            manager->fileAction(1, 3, "/x.mp4");
            sent = 3;
        }
        QCOMPARE(waits.size(), waitPage ? 1 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(unreachable.size(), sent, 5000);
        if (!told) {
            QCOMPARE(closes.size(), 0);
            QCOMPARE(toasts.size(), 0);
            return;
        }
        const QString reqId = unreachable.at(0).at(0).toString();
        if (waitPage)
            QCOMPARE(reqId, waits.at(0).at(0).toString());
        QCOMPARE(closes.size(), 1);
        QCOMPARE(closes.at(0).at(0).toString(), reqId);
        QCOMPARE(toasts.size(), 1);
        QCOMPARE(toasts.at(0).at(0).toString(),
                 QString("媒体服务未运行，正在重新启动，请稍后再试"));
    }

    void openingAKnownFolderKeepsItsNode()
    {
        auto manager = managerInsideAB();
        manager->setFile(0);
        // The model now lists a different "/A" under the same id; the stored node wins.
        QJsonObject listing
            = reply(2, 0, QJsonArray { folderEntry(5, 0, "/Renamed", makeDir("A")) });
        manager->onReplayBack(listing);
        manager->fileAction(0, 5, makeDir("A"));
        QCOMPARE(manager->curPath(), QString("/A"));
    }

    void removeAndRename()
    {
        auto manager = freshManager();
        QSignalSpy toasts(manager.get(), &KIVManager::showToast);
        manager->fileAction(1, 77, "/anything.mp4");
        manager->setPersonalName("  书房  ");
        manager->setPersonalName(" \t ");
        const QList<RecordedRequest> sent = settledRequests(2);
        QCOMPARE(requestLines(sent), QStringList({ "DELETE /files/77", "PUT /settings/" }));
        QCOMPARE(parse(sent.at(1).body), QJsonObject({ { "deviceName", "书房" } }));
        QCOMPARE(toasts.size(), 1);
        QCOMPARE(toasts.at(0).at(0).toString(), QString("设置用户名失败！无效的命名"));
    }

    void cancelNamesTheRequest()
    {
        auto manager = freshManager();
        manager->cacelAction("0123456789abcdef0123456789abcdef");
        const QList<RecordedRequest> sent = settledRequests(1);
        QCOMPARE(QString::fromUtf8(sent.at(0).method + ' ' + sent.at(0).target),
                 QString("DELETE /requests/0123456789abcdef0123456789abcdef"));
    }

    void closeAppWithEmptyQueueSendsNothing()
    {
        auto manager = freshManager();
        HttpManager::instance()->flushEvents(false);
        cloud.clearRequests();
        QElapsedTimer clock;
        clock.start();
        manager->closeApp();
        QVERIFY(clock.elapsed() < 1000);
        QTest::qWait(100);
        QCOMPARE(cloud.requests().size(), 0);
    }

    void defaultPathIsAFileUrlOfTheMoviesFolder()
    {
        KIVManager manager;
        const QUrl url(manager.defaultPath());
        QVERIFY(url.isLocalFile());
        QCOMPARE(url.toLocalFile(),
                 QStandardPaths::writableLocation(QStandardPaths::MoviesLocation));
    }
};

QTEST_MAIN(KIVManagerTest)
#include "tst_kivmanager.moc"
