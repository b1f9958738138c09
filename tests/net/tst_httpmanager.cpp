#include "app/constants.h"
#include "logcapture.h"
#include "net/httpmanager.h"
#include "net/requestkind.h"
#include "platform/platform.h"
#include "testresponder.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStandardPaths>
#include <QtTest>

namespace {

const QRegularExpression RequestIdPattern(QStringLiteral("^[0-9a-f]{32}$"));
const QString UploadPath = QStringLiteral("/tolvane/datacenter/velnor_data_upload");

enum Call { Send, PostFiles, DeleteFile, ListFiles, PutSettings, GetSettings };
enum Peer { Answers, NotListening, HangsUp };

QJsonObject parseObject(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

QJsonArray parseArray(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).array();
}

QString compact(const QJsonArray &array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

} // namespace

class TestHttpManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void requestFraming_data();
    void requestFraming();
    void requestIdsAreFresh();
    void unknownOperationSendsNothing_data();
    void unknownOperationSendsNothing();
    void cancelRequestCarriesNoRequestId();
    void replyHandling_data();
    void replyHandling();

    void uploadSendsQueuedEventsInOrder();
    void eventReportedDuringUploadGoesWithTheNextOne();
    void failedUploadIsLoggedOnceAndDropped_data();
    void failedUploadIsLoggedOnceAndDropped();
    void emptyQueueFlushSendsNothing();
    void silentCloudDoesNotHoldTheClosingFlush();
    void closingFlushDuringTheFirstWaitsForItsAnswer();
    void exitWithRequestsInFlight();

private:
    HttpManager *m_manager = nullptr;
    QScopedPointer<LogCapture> m_log;
    QScopedPointer<TestResponder> m_service;
    QScopedPointer<TestResponder> m_cloud;
    QList<QJsonObject> m_replies;
};

void TestHttpManager::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(QSslSocket::supportsSsl());
    // The product verifies the cloud's certificate; the test trusts its own explicitly.
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(QSslCertificate::fromData(testData("trusted-cert.pem")));
    QSslConfiguration::setDefaultConfiguration(configuration);

    m_manager = HttpManager::instance();
    QCOMPARE(HttpManager::instance(), m_manager);
    connect(m_manager, &HttpManager::replayBack, this,
            [this](QJsonObject &reply) { m_replies.append(reply); });
    m_log.reset(new LogCapture);
}

void TestHttpManager::init()
{
    m_service.reset(new TestResponder);
    m_service->setReply(R"({"code":0})");
    m_cloud.reset(new TestResponder);
    m_cloud->useTls(QSslCertificate(testData("trusted-cert.pem")),
                    QSslKey(testData("trusted-key.pem"), QSsl::Rsa));
    m_cloud->setReply(R"({"errCode":0})");
    m_manager->setServiceBaseUrl(m_service->baseUrl());
    m_manager->setCloudBaseUrl(m_cloud->baseUrl());
    QCOMPARE(m_manager->pendingEventCount(), 0);
    m_replies.clear();
    LogCapture::clear();
}

void TestHttpManager::cleanupTestCase()
{
    m_log.reset();
}

void TestHttpManager::requestFraming_data()
{
    QTest::addColumn<int>("call");
    QTest::addColumn<int>("operation");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("id");
    QTest::addColumn<QByteArray>("expectedMethod");
    QTest::addColumn<QString>("expectedTarget");
    QTest::addColumn<QByteArray>("expectedBody");
    QTest::addColumn<int>("expectedKind");

    const QByteArray none;
    const QByteArray import
        = R"({"depth":1,"filters":[".mkv",".mp4"],"path":"/home/u/影片","pid":0})";
    const QByteArray name = R"({"deviceName":"客厅 PC"})";
    QTest::newRow("GET, path without query")
        << int(Send) << 2 << "/settings/" << none << 0 << QByteArray("GET")
        << "/settings/?reqId=" << none << 4;
    QTest::newRow("GET, path with query") << int(Send) << 2 << "/files?id=5" << none << 0
                                          << QByteArray("GET") << "/files?id=5&reqId=" << none << 2;
    QTest::newRow("PUT") << int(Send) << 3 << "/settings/" << name << 0 << QByteArray("PUT")
                         << "/settings/?reqId=" << name << 3;
    QTest::newRow("POST") << int(Send) << 4 << "/files" << import << 0 << QByteArray("POST")
                          << "/files?reqId=" << import << 0;
    QTest::newRow("DELETE") << int(Send) << 5 << "/files/9" << none << 0 << QByteArray("DELETE")
                            << "/files/9?reqId=" << none << 1;
    QTest::newRow("postFiles") << int(PostFiles) << 0 << QString() << import << 0
                               << QByteArray("POST") << "/files?reqId=" << import
                               << int(RequestKind::Import);
    QTest::newRow("deleteFile") << int(DeleteFile) << 0 << QString() << none << 42
                                << QByteArray("DELETE") << "/files/42?reqId=" << none
                                << int(RequestKind::Remove);
    QTest::newRow("listFiles, root")
        << int(ListFiles) << 0 << QString() << none << 0 << QByteArray("GET")
        << "/files?id=0&reqId=" << none << int(RequestKind::List);
    QTest::newRow("listFiles, folder")
        << int(ListFiles) << 0 << QString() << none << 1234567 << QByteArray("GET")
        << "/files?id=1234567&reqId=" << none << int(RequestKind::List);
    QTest::newRow("putSettings") << int(PutSettings) << 0 << QString() << name << 0
                                 << QByteArray("PUT") << "/settings/?reqId=" << name
                                 << int(RequestKind::SetSettings);
    QTest::newRow("getSettings") << int(GetSettings) << 0 << QString() << none << 0
                                 << QByteArray("GET") << "/settings/?reqId=" << none
                                 << int(RequestKind::GetSettings);
}

void TestHttpManager::requestFraming()
{
    QFETCH(int, call);
    QFETCH(int, operation);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, id);
    QFETCH(QByteArray, expectedMethod);
    QFETCH(QString, expectedTarget);
    QFETCH(QByteArray, expectedBody);
    QFETCH(int, expectedKind);

    QString reqId;
    switch (call) {
    case Send:
        reqId = m_manager->sendRequest(operation, path, body, expectedKind);
        break;
    case PostFiles:
        reqId = m_manager->postFiles(parseObject(body));
        break;
    case DeleteFile:
        reqId = m_manager->deleteFile(id);
        break;
    case ListFiles:
        reqId = m_manager->listFiles(id);
        break;
    case PutSettings:
        reqId = m_manager->putSettings(parseObject(body));
        break;
    case GetSettings:
        reqId = m_manager->getSettings();
        break;
    }
    QVERIFY2(RequestIdPattern.match(reqId).hasMatch(), qPrintable(reqId));

    QTRY_COMPARE(m_replies.size(), 1);
    QCOMPARE(m_service->requests().size(), 1);
    const RecordedRequest request = m_service->requests().first();
    QCOMPARE(request.method, expectedMethod);
    QCOMPARE(QString::fromUtf8(request.target), expectedTarget + reqId);
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/json; charset=utf-8"));
    QCOMPARE(request.body, expectedBody);
    QCOMPARE(m_replies.first(),
             QJsonObject({ { "code", 0 }, { "_type", expectedKind }, { "_reqId", reqId } }));
    QCOMPARE(LogCapture::count(), 0);
}

void TestHttpManager::requestIdsAreFresh()
{
    const QString first = m_manager->listFiles(3);
    const QString second = m_manager->listFiles(3);
    QVERIFY(RequestIdPattern.match(first).hasMatch());
    QVERIFY(RequestIdPattern.match(second).hasMatch());
    QVERIFY(first != second);
    QTRY_COMPARE(m_service->requests().size(), 2);
    QTRY_COMPARE(m_replies.size(), 2);
}

void TestHttpManager::unknownOperationSendsNothing_data()
{
    QTest::addColumn<int>("operation");
    QTest::newRow("head") << int(QNetworkAccessManager::HeadOperation);
    QTest::newRow("custom") << int(QNetworkAccessManager::CustomOperation);
    QTest::newRow("unknown") << 0;
}

void TestHttpManager::unknownOperationSendsNothing()
{
    QFETCH(int, operation);
    const QString ignored = m_manager->sendRequest(operation, "/files", "{}", 0);
    QVERIFY(RequestIdPattern.match(ignored).hasMatch());
    // A request sent afterwards marks the point by which the first would have arrived.
    m_manager->getSettings();
    QTRY_COMPARE(m_replies.size(), 1);
    QTest::qWait(100);
    QCOMPARE(m_service->requests().size(), 1);
    QVERIFY(!m_service->requests().first().target.contains(ignored.toLatin1()));
    QCOMPARE(m_replies.size(), 1);
}

void TestHttpManager::cancelRequestCarriesNoRequestId()
{
    const QString reqId = m_manager->postFiles({ { "path", "/tmp" } });
    m_manager->cancelRequest(reqId);
    QTRY_COMPARE(m_service->requests().size(), 2);
    QTRY_COMPARE(m_replies.size(), 1);
    QTest::qWait(50);
    RecordedRequest cancel = m_service->requests().at(0);
    if (cancel.method != "DELETE")
        cancel = m_service->requests().at(1);
    QCOMPARE(cancel.method, QByteArray("DELETE"));
    QCOMPARE(cancel.target, "/requests/" + reqId.toLatin1());
    // Only the import's reply reaches the listener.
    QCOMPARE(m_replies.size(), 1);
    QCOMPARE(m_replies.first().value("_type").toInt(), int(RequestKind::Import));
}

void TestHttpManager::replyHandling_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("peer");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("emitted");
    QTest::addColumn<QJsonObject>("expected");
    QTest::addColumn<QString>("expectedLog"); // %1 stands for the request's URL

    QTest::newRow("empty listing")
        << QByteArray(R"({"code":0,"data":[]})") << 200 << int(Answers) << 2 << true
        << QJsonObject { { "code", 0 }, { "data", QJsonArray() }, { "_type", 2 } } << QString();
    QTest::newRow("service's _type and _reqId overwritten")
        << QByteArray(R"({"code":0,"_type":"import","_reqId":"x","data":{"deviceName":"x"}})")
        << 200 << int(Answers) << 4 << true
        << QJsonObject { { "code", 0 },
                         { "data", QJsonObject { { "deviceName", "x" } } },
                         { "_type", 4 } }
        << QString();
    QTest::newRow("array body") << QByteArray("[1,2,3]") << 200 << int(Answers) << 1 << true
                                << QJsonObject { { "_type", 1 } } << QString();
    QTest::newRow("non-zero code") << QByteArray(R"({"code":-2,"msg":"busy","data":{"pid":7}})")
                                   << 200 << int(Answers) << 0 << true
                                   << QJsonObject { { "code", -2 },
                                                    { "msg", "busy" },
                                                    { "data", QJsonObject { { "pid", 7 } } },
                                                    { "_type", 0 } }
                                   << QStringLiteral("\"busy\" : QUrl(\"%1\")");
    QTest::newRow("non-zero code, text not ASCII")
        << QByteArray(R"({"code":1,"msg":"导入失败 \"x\""})") << 200 << int(Answers) << 0 << true
        << QJsonObject { { "code", 1 }, { "msg", "导入失败 \"x\"" }, { "_type", 0 } }
        << QStringLiteral("\"导入失败 \\\"x\\\"\" : QUrl(\"%1\")");
    QTest::newRow("non-zero code without msg")
        << QByteArray(R"({"code":500})") << 200 << int(Answers) << 3 << true
        << QJsonObject { { "code", 500 }, { "_type", 3 } } << QStringLiteral("\"\" : QUrl(\"%1\")");
    QTest::newRow("code as text counts as 0")
        << QByteArray(R"({"code":"1","msg":"m"})") << 200 << int(Answers) << 2 << true
        << QJsonObject { { "code", "1" }, { "msg", "m" }, { "_type", 2 } } << QString();
    QTest::newRow("HTTP error status with JSON body")
        << QByteArray(R"({"code":0})") << 500 << int(Answers) << 2 << true
        << QJsonObject { { "code", 0 }, { "_type", 2 } } << QString();
    QTest::newRow("empty body") << QByteArray() << 200 << int(Answers) << 2 << false
                                << QJsonObject() << QStringLiteral("QUrl(\"%1\")  json parse fail");
    QTest::newRow("not JSON") << QByteArray("<html>oops</html>") << 200 << int(Answers) << 2
                              << false << QJsonObject()
                              << QStringLiteral("QUrl(\"%1\")  json parse fail");
    QTest::newRow("truncated JSON")
        << QByteArray(R"({"code":0,"data":[)") << 200 << int(Answers) << 2 << false << QJsonObject()
        << QStringLiteral("QUrl(\"%1\")  json parse fail");
    QTest::newRow("service not running")
        << QByteArray() << 200 << int(NotListening) << 2 << false << QJsonObject()
        << QStringLiteral("QUrl(\"%1\")  json parse fail");
    QTest::newRow("service hangs up without answering")
        << QByteArray() << 200 << int(HangsUp) << 0 << false << QJsonObject()
        << QStringLiteral("QUrl(\"%1\")  json parse fail");
}

void TestHttpManager::replyHandling()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(int, peer);
    QFETCH(int, kind);
    QFETCH(bool, emitted);
    QFETCH(QJsonObject, expected);
    QFETCH(QString, expectedLog);

    m_service->setReply(body, status);
    if (peer == NotListening)
        m_manager->setServiceBaseUrl(QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
    m_service->setHangUp(peer == HangsUp);
    QSignalSpy unreachable(m_manager, &HttpManager::serviceUnreachable);
    const QString reqId = m_manager->sendRequest(2, "/files?id=1", QByteArray(), kind);
    const QString url = m_manager->serviceBaseUrl() + "/files?id=1&reqId=" + reqId;

    if (emitted) {
        QTRY_COMPARE(m_replies.size(), 1);
        expected.insert("_reqId", reqId);
        QCOMPARE(m_replies.first(), expected);
    }
    if (!expectedLog.isEmpty())
        QTRY_COMPARE(LogCapture::lines(QtInfoMsg), QStringList { expectedLog.arg(url) });
    QTest::qWait(50);
    QCOMPARE(m_replies.size(), emitted ? 1 : 0);
    QCOMPARE(LogCapture::count(), expectedLog.isEmpty() ? 0 : 1);
    // Only a request the service never answered is reported as such; an answer that is not JSON
    // came from a running service.
    const QList<QVariantList> expectedUnreachable
        = peer == Answers ? QList<QVariantList>() : QList<QVariantList> { { reqId, kind } };
    QCOMPARE(QList<QVariantList>(unreachable), expectedUnreachable);
}

void TestHttpManager::uploadSendsQueuedEventsInOrder()
{
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    m_manager->reportEvent("velnorAssistant_velnor_home_0_0_page_view", {});
    m_manager->reportEvent("velnorAssistant_velnor_home_sort_sortBy_pit_switch",
                           { { "switchResult", "Date" } });
    m_manager->reportEvent("velnorAssistant_velnor_home_import_importFolder_pit_click",
                           { { "importType", "panelDrag" } });
    QCOMPARE(m_manager->pendingEventCount(), 3);
    QVERIFY(m_cloud->requests().isEmpty());
    QTest::qWait(20);
    const qint64 reported = QDateTime::currentMSecsSinceEpoch();

    m_manager->flushEvents(false);
    QCOMPARE(m_manager->pendingEventCount(), 0);
    QCOMPARE(m_cloud->requests().size(), 1);
    const RecordedRequest request = m_cloud->requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(QString::fromUtf8(request.target), UploadPath);
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/json;charset=UTF-8"));
    const QJsonArray events = parseArray(request.body);
    QCOMPARE(compact(events).toUtf8(), request.body);

    const QJsonObject defaultData { { "GUID", platform::machineIdentifier() },
                                    { "tevaroVersion", "1.0.9.78" } };
    const QJsonArray expected {
        QJsonObject { { "eventId", "velnorAssistant_velnor_home_0_0_page_view" },
                      { "extraData", QJsonObject() } },
        QJsonObject { { "eventId", "velnorAssistant_velnor_home_sort_sortBy_pit_switch" },
                      { "extraData", QJsonObject { { "switchResult", "Date" } } } },
        QJsonObject { { "eventId", "velnorAssistant_velnor_home_import_importFolder_pit_click" },
                      { "extraData", QJsonObject { { "importType", "panelDrag" } } } },
    };
    QCOMPARE(events.size(), expected.size());
    qint64 previous = before;
    for (int i = 0; i < events.size(); ++i) {
        QJsonObject event = events.at(i).toObject();
        QCOMPARE(event.value("defaultData").toObject(), defaultData);
        const QJsonValue timestamp = event.value("timestamp");
        QVERIFY(timestamp.isDouble());
        // The time of reporting, not of the upload.
        QVERIFY(timestamp.toDouble() >= previous && timestamp.toDouble() <= reported);
        previous = qint64(timestamp.toDouble());
        event.remove("timestamp");
        event.remove("defaultData");
        QCOMPARE(event, expected.at(i).toObject());
    }
    QCOMPARE(LogCapture::count(), 0);
}

void TestHttpManager::eventReportedDuringUploadGoesWithTheNextOne()
{
    m_manager->reportEvent("first", {});
    m_manager->flushEvents(true);
    m_manager->reportEvent("second", {});
    QCOMPARE(m_manager->pendingEventCount(), 1);
    QTRY_COMPARE(m_cloud->requests().size(), 1);

    m_manager->flushEvents(false);
    QCOMPARE(m_cloud->requests().size(), 2);
    const QJsonArray first = parseArray(m_cloud->requests().at(0).body);
    const QJsonArray second = parseArray(m_cloud->requests().at(1).body);
    QCOMPARE(first.size(), 1);
    QCOMPARE(first.at(0)["eventId"].toString(), QStringLiteral("first"));
    QCOMPARE(second.size(), 1);
    QCOMPARE(second.at(0)["eventId"].toString(), QStringLiteral("second"));
    QCOMPARE(LogCapture::count(), 0);
}

void TestHttpManager::failedUploadIsLoggedOnceAndDropped_data()
{
    QTest::addColumn<QString>("peer"); // "trusted", "untrusted" or "closed"
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("async");
    QTest::addColumn<QString>("expectedLog"); // %1 stands for the compact uploaded array

    const QString parseFail = QStringLiteral("error evnetid:  QJsonArray(%1)  json parse fail");
    QTest::newRow("answer not JSON")
        << "trusted" << QByteArray("Bad Gateway") << false << parseFail;
    QTest::newRow("answer not JSON, timer upload")
        << "trusted" << QByteArray("") << true << parseFail;
    QTest::newRow("non-zero errCode")
        << "trusted" << QByteArray(R"({"errCode":3,"errMsg":"quota"})") << false
        << QStringLiteral(
               "report error:  QJsonObject({\"errCode\":3,\"errMsg\":\"quota\"}) : QJsonArray(%1)");
    QTest::newRow("untrusted certificate")
        << "untrusted" << QByteArray(R"({"errCode":0})") << false << parseFail;
    QTest::newRow("cloud unreachable") << "closed" << QByteArray() << false << parseFail;
}

void TestHttpManager::failedUploadIsLoggedOnceAndDropped()
{
    QFETCH(QString, peer);
    QFETCH(QByteArray, answer);
    QFETCH(bool, async);
    QFETCH(QString, expectedLog);

    if (peer == "untrusted")
        m_cloud->useTls(QSslCertificate(testData("untrusted-cert.pem")),
                        QSslKey(testData("untrusted-key.pem"), QSsl::Rsa));
    else if (peer == "closed")
        m_manager->setCloudBaseUrl(QStringLiteral("https://127.0.0.1:%1").arg(closedPort()));
    m_cloud->setReply(answer);

    m_manager->reportEvent("velnorAssistant_velnor_home_fileList_refresh_pit_click", {});
    m_manager->reportEvent("velnorAssistant_velnor_home_sort_chooseView_pit_switch",
                           { { "switchResult", "Table" } });
    QSignalSpy received(m_cloud.data(), &TestResponder::requestReceived);
    m_manager->flushEvents(async);
    QTRY_COMPARE(LogCapture::lines(QtCriticalMsg).size(), 1);
    QCOMPARE(m_manager->pendingEventCount(), 0);

    // The uploaded array stands in the line whole, in compact form, with both events in order.
    const int sent = peer == "trusted" ? 1 : 0;
    QCOMPARE(m_cloud->requests().size(), sent);
    const QStringList parts = expectedLog.split("%1");
    const QRegularExpression pattern("^" + QRegularExpression::escape(parts.value(0)) + "(.*)"
                                     + QRegularExpression::escape(parts.value(1)) + "$");
    const QString line = LogCapture::lines(QtCriticalMsg).first();
    const QRegularExpressionMatch match = pattern.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    const QJsonArray logged = parseArray(match.captured(1).toUtf8());
    QCOMPARE(compact(logged), match.captured(1));
    QCOMPARE(logged.size(), 2);
    QCOMPARE(logged.at(0)["eventId"].toString(),
             QStringLiteral("velnorAssistant_velnor_home_fileList_refresh_pit_click"));
    QCOMPARE(logged.at(1)["extraData"].toObject(), QJsonObject({ { "switchResult", "Table" } }));
    if (sent)
        QCOMPARE(match.captured(1).toUtf8(), m_cloud->requests().first().body);

    // Nothing is queued again, so a later upload has nothing to send.
    m_manager->flushEvents(false);
    QTest::qWait(200);
    QCOMPARE(m_cloud->requests().size(), sent);
    QCOMPARE(LogCapture::lines(QtCriticalMsg).size(), 1);
    QCOMPARE(LogCapture::lines(QtInfoMsg), QStringList());
}

void TestHttpManager::emptyQueueFlushSendsNothing()
{
    QElapsedTimer timer;
    timer.start();
    m_manager->flushEvents(false);
    QVERIFY(timer.elapsed() < 100);
    m_manager->flushEvents(true);
    QTest::qWait(100);
    QVERIFY(m_cloud->requests().isEmpty());
    QCOMPARE(LogCapture::count(), 0);
}

void TestHttpManager::silentCloudDoesNotHoldTheClosingFlush()
{
    m_cloud->setSilent(true);
    m_manager->reportEvent("velnorAssistant_velnor_home_rightClickMenu_open_pit_click", {});
    QElapsedTimer timer;
    timer.start();
    m_manager->flushEvents(false);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed < 10000, qPrintable(QString::number(elapsed)));
    QCOMPARE(m_cloud->requests().size(), 1);
    const QString uploaded = QString::fromUtf8(m_cloud->requests().first().body);
    QCOMPARE(LogCapture::lines(QtCriticalMsg),
             QStringList {
                 QStringLiteral("error evnetid:  QJsonArray(%1)  json parse fail").arg(uploaded) });
}

// A second close request while the first waits for its upload: the window closes as soon as the
// second flush returns, so that flush must not return before the upload has been answered.
void TestHttpManager::closingFlushDuringTheFirstWaitsForItsAnswer()
{
    // A refusal, so that the handled answer shows in the log.
    m_cloud->setReply(R"({"errCode":3})");
    m_cloud->setReplyDelay(300);
    m_manager->reportEvent("velnorAssistant_velnor_home_0_0_page_view", {});
    QStringList loggedWhenSecondReturned { "second flush never ran" };
    QTimer::singleShot(50, this, [&] {
        m_manager->flushEvents(false);
        loggedWhenSecondReturned = LogCapture::lines(QtCriticalMsg);
    });
    m_manager->flushEvents(false);
    QTRY_COMPARE(loggedWhenSecondReturned.size(), 1);
    QVERIFY2(loggedWhenSecondReturned.first().startsWith("report error: "),
             qPrintable(loggedWhenSecondReturned.first()));
    QCOMPARE(m_cloud->requests().size(), 1);
    QCOMPARE(parseArray(m_cloud->requests().first().body).size(), 1);
    QCOMPARE(LogCapture::lines(QtCriticalMsg).size(), 1);
}

// The manager outlives the event loop and goes with the application object; requests still in
// flight then must not bring the process down.
void TestHttpManager::exitWithRequestsInFlight()
{
    m_service->setSilent(true);
    QProcess helper;
    helper.start(QStringLiteral(VELNOR_NET_EXIT_HELPER),
                 { "http", QString::number(m_service->serverPort()) });
    QVERIFY(helper.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(helper.state() == QProcess::NotRunning, 20000);
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), 0);
    QCOMPARE(helper.readAllStandardOutput(), QByteArray("exited\n"));
    QCOMPARE(m_service->requests().size(), 2);
}

QTEST_GUILESS_MAIN(TestHttpManager)
#include "tst_httpmanager.moc"
