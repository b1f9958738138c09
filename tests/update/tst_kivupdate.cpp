#include "cloudresponder.h"
#include "update/kivupdate.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSslConfiguration>
#include <QtTest>

namespace {

const QByteArray versionPath = "/tolvane/appstore/getVelnorVerInfo";

QByteArray makeVersionReply(const QString &version, const QJsonValue &forced, const QString &note,
                            const QString &url)
{
    const QJsonObject data {
        { "version", version }, { "forced", forced }, { "note", note }, { "url", url }
    };
    return QJsonDocument(QJsonObject { { "errCode", 0 }, { "data", data } }).toJson();
}

} // namespace

class TestKIVUpdate : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void isNewerVersion_data();
    void isNewerVersion();
    void installerFileName_data();
    void installerFileName();
    void version();
    void versionRequest();
    void versionReply_data();
    void versionReply();
    void existingInstallerOfferedWithoutDownload();
    void download_data();
    void download();
    void unwritableInstallerIsNotOffered();
    void setupStartsInstallerOnce();
    void setupWithInstallerMissingBlocksLaterCalls();

private:
    // Waits until the updater's version reply (and a download, if any) has been handled.
    bool waitForReplies(KIVUpdate &updater, int count);

    QTemporaryDir m_certDir;
    QSslCertificate m_certificate;
    QSslKey m_key;
    CloudResponder *m_cloud = nullptr;
};

void TestKIVUpdate::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_certDir.isValid());
    QProcess openssl;
    openssl.setWorkingDirectory(m_certDir.path());
    openssl.start("openssl",
                  { "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", "key.pem", "-out", "cert.pem", "-days", "2", "-subj",
                    "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1" });
    QVERIFY(openssl.waitForFinished(20000));
    QCOMPARE(openssl.exitCode(), 0);

    QFile certFile(m_certDir.filePath("cert.pem"));
    QFile keyFile(m_certDir.filePath("key.pem"));
    QVERIFY(certFile.open(QIODevice::ReadOnly) && keyFile.open(QIODevice::ReadOnly));
    m_certificate = QSslCertificate(&certFile, QSsl::Pem);
    m_key = QSslKey(&keyFile, QSsl::Ec, QSsl::Pem);
    QVERIFY(!m_certificate.isNull() && !m_key.isNull());

    // Only the test trusts its own certificate; the updater keeps the default verification.
    QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
    trusted.setCaCertificates(trusted.caCertificates() << m_certificate);
    QSslConfiguration::setDefaultConfiguration(trusted);
}

void TestKIVUpdate::init()
{
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
        .removeRecursively();
    m_cloud = new CloudResponder(m_certificate, m_key);
    QVERIFY(m_cloud->isListening());
}

void TestKIVUpdate::cleanup()
{
    delete m_cloud;
    m_cloud = nullptr;
}

bool TestKIVUpdate::waitForReplies(KIVUpdate &updater, int count)
{
    auto *network = updater.findChild<QNetworkAccessManager *>();
    QSignalSpy finished(network, &QNetworkAccessManager::finished);
    while (finished.count() < count) {
        if (!finished.wait(10000))
            return false;
    }
    return true;
}

void TestKIVUpdate::isNewerVersion_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("remote");
    QTest::addColumn<bool>("newer");

    QTest::newRow("numeric, not textual") << "1.0.9.78"
                                          << "1.0.10.0" << true;
    QTest::newRow("equal") << "1.0.9.78"
                           << "1.0.9.78" << false;
    QTest::newRow("older") << "1.0.9.78"
                           << "1.0.8.99" << false;
    QTest::newRow("last piece newer") << "1.0.9.78"
                                      << "1.0.9.79" << true;
    QTest::newRow("two pieces") << "1.0.9.78"
                                << "2.0" << false;
    QTest::newRow("extra piece ignored") << "1.0.9.78"
                                         << "1.0.9.78.1" << false;
    QTest::newRow("three pieces compared") << "1.0.9.78"
                                           << "1.1.0" << true;
    QTest::newRow("empty piece counts as 0") << "1.0.9.78"
                                             << "1..9.79" << true;
    QTest::newRow("not a number counts as 0") << "1.0.9.78"
                                              << "1.x.10" << true;
    QTest::newRow("empty") << "1.0.9.78"
                           << "" << false;
}

void TestKIVUpdate::isNewerVersion()
{
    QFETCH(QString, local);
    QFETCH(QString, remote);
    QFETCH(bool, newer);
    QCOMPARE(KIVUpdate::isNewerVersion(local, remote), newer);
}

void TestKIVUpdate::installerFileName_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("name");

    QTest::newRow("plain") << "https://cdn.example/dl/setup.exe"
                           << "setup.exe";
    QTest::newRow("query ignored") << "https://cdn.example/dl/setup.exe?v=2"
                                   << "setup.exe";
    QTest::newRow("ends in slash") << "https://cdn.example/dl/"
                                   << "kivhelep.exe";
    QTest::newRow("no path") << "https://cdn.example"
                             << "kivhelep.exe";
    QTest::newRow("decoded") << "https://cdn.example/dl/%E5%AE%89%20%E8%A3%85.exe"
                             << QString::fromUtf8("安 装.exe");
    QTest::newRow("encoded slash stays in the folder") << "https://cdn.example/dl/a%2Fb.exe"
                                                       << "b.exe";
    QTest::newRow("parent segment") << "https://cdn.example/dl/.."
                                    << "kivhelep.exe";
}

void TestKIVUpdate::installerFileName()
{
    QFETCH(QString, url);
    QFETCH(QString, name);
    QCOMPARE(KIVUpdate::installerFileName(url), name);
}

void TestKIVUpdate::version()
{
    KIVUpdate updater(m_cloud->baseUrl(), nullptr);
    QCOMPARE(updater.version(), QString::fromUtf8("版本：1.0.9.78"));
    QVERIFY(waitForReplies(updater, 1));
}

void TestKIVUpdate::versionRequest()
{
    m_cloud->setResponse(versionPath, CloudResponder::response(200, "{\"errCode\":0}"));
    KIVUpdate updater(m_cloud->baseUrl(), nullptr);
    QVERIFY(waitForReplies(updater, 1));
    QCOMPARE(m_cloud->requests().size(), 1);
    const CloudResponder::Request request = m_cloud->requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, versionPath);
    QCOMPARE(request.body, QByteArray("{}"));
    QCOMPARE(request.contentType, QByteArray("text/plain;charset=UTF-8"));
}

void TestKIVUpdate::versionReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("pieces");
    QTest::addColumn<bool>("offered");
    QTest::addColumn<bool>("forced");
    QTest::addColumn<QString>("note");

    const QString url = "/dl/setup.bin"; // made absolute per run
    QTest::newRow("newer") << makeVersionReply("1.0.10.0", 0, "fixes", url) << 1 << true << false
                           << "fixes";
    QTest::newRow("equal") << makeVersionReply("1.0.9.78", 0, "", url) << 1 << false << false << "";
    QTest::newRow("older") << makeVersionReply("1.0.8.99", 0, "", url) << 1 << false << false << "";
    QTest::newRow("two pieces") << makeVersionReply("2.0", 0, "", url) << 1 << false << false << "";
    QTest::newRow("forced 1") << makeVersionReply("1.0.10.0", 1, "", url) << 1 << true << true
                              << "";
    QTest::newRow("forced true") << makeVersionReply("1.0.10.0", true, "", url) << 1 << true
                                 << false << "";
    QTest::newRow("forced 2") << makeVersionReply("1.0.10.0", 2, "", url) << 1 << true << false
                              << "";
    QTest::newRow("line breaks") << makeVersionReply("1.0.10.0", 0, "one/ntwo/nthree", url) << 1
                                 << true << false << "one<br>two<br>three";
    QTest::newRow("split across writes") << makeVersionReply("1.0.10.0", 1, "split/nreply", url)
                                         << 3 << true << true << "split<br>reply";
    QTest::newRow("errCode missing")
        << QByteArray("{\"data\":{\"version\":\"9.9.9\"}}") << 1 << false << false << "";
    QTest::newRow("errCode non-zero")
        << QByteArray("{\"errCode\":3,\"data\":{\"version\":\"9.9.9\"}}") << 1 << false << false
        << "";
    QTest::newRow("data missing") << QByteArray("{\"errCode\":0}") << 1 << false << false << "";
    QTest::newRow("not json") << QByteArray("<html>busy</html>") << 1 << false << false << "";
}

void TestKIVUpdate::versionReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, pieces);
    QFETCH(bool, offered);
    QFETCH(bool, forced);
    QFETCH(QString, note);

    reply.replace("\"/dl/setup.bin\"", "\"" + m_cloud->baseUrl().toUtf8() + "/dl/setup.bin\"");
    m_cloud->setResponse(versionPath, CloudResponder::response(200, reply, {}, pieces));
    m_cloud->setResponse("/dl/setup.bin", CloudResponder::response(200, "installer"));
    if (QByteArray(QTest::currentDataTag()) == "not json")
        QTest::ignoreMessage(QtInfoMsg, "json parseError");
    if (QByteArray(QTest::currentDataTag()).startsWith("errCode"))
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression("^KIVUpdate: QJsonObject"));

    KIVUpdate updater(m_cloud->baseUrl(), nullptr);
    QSignalSpy update(&updater, &KIVUpdate::updateSignal);
    QVERIFY(waitForReplies(updater, offered ? 2 : 1));
    QCOMPARE(update.count(), offered ? 1 : 0);
    QCOMPARE(m_cloud->requests().size(), offered ? 2 : 1);
    if (offered) {
        QCOMPARE(update.first().at(0).toString(), note);
        QCOMPARE(update.first().at(1).toBool(), forced);
        QFile file(KIVUpdate::downloadDirectory() + "setup.bin");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("installer"));
    }
}

void TestKIVUpdate::existingInstallerOfferedWithoutDownload()
{
    QVERIFY(QDir().mkpath(KIVUpdate::downloadDirectory()));
    QFile existing(KIVUpdate::downloadDirectory() + "setup.bin");
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("from an earlier run");
    existing.close();
    m_cloud->setResponse(
        versionPath,
        CloudResponder::response(
            200, makeVersionReply("1.0.10.0", 1, "n", m_cloud->baseUrl() + "/dl/setup.bin")));

    KIVUpdate updater(m_cloud->baseUrl(), nullptr);
    QSignalSpy update(&updater, &KIVUpdate::updateSignal);
    QSignalSpy progress(&updater, &KIVUpdate::processStatus);
    QSignalSpy finished(&updater, &KIVUpdate::downExeFinish);
    QVERIFY(update.wait(10000));
    QCOMPARE(update.first(), (QVariantList { "n", true }));
    QTest::qWait(200);
    QCOMPARE(m_cloud->requests().size(), 1);
    QCOMPARE(progress.count(), 0);
    QCOMPARE(finished.count(), 0);
}

void TestKIVUpdate::download_data()
{
    QTest::addColumn<QString>("urlPath");
    QTest::addColumn<QList<QByteArray>>("response");
    QTest::addColumn<QString>("savedAs");
    QTest::addColumn<bool>("offered");
    QTest::addColumn<int>("progressReports");
    QTest::addColumn<QString>("log");

    const QByteArray installer(200000, 'x');
    QTest::newRow("saved under its name")
        << "/dl/VelnorSetup-1.0.10.exe" << CloudResponder::response(200, installer, {}, 4)
        << "VelnorSetup-1.0.10.exe" << true << -1 << "";
    QTest::newRow("url ends in slash")
        << "/dl/" << CloudResponder::response(200, installer) << "kivhelep.exe" << true << -1 << "";
    QTest::newRow("redirect") << "/dl/moved.exe"
                              << CloudResponder::response(302, "", "Location: /dl/other.exe\r\n")
                              << "moved.exe" << false << -1 << "^Request was redirected.\n$";
    QTest::newRow("not found") << "/dl/gone.exe" << CloudResponder::response(404, "no")
                               << "gone.exe" << false << -1
                               << "^Download of https://127\\.0\\.0\\.1:\\d+/dl/gone\\.exe failed: "
                                  ".*\n$";
    QTest::newRow("total 0") << "/dl/empty.exe" << CloudResponder::response(200, "") << "empty.exe"
                             << true << 0 << "";
}

void TestKIVUpdate::download()
{
    QFETCH(QString, urlPath);
    QFETCH(QList<QByteArray>, response);
    QFETCH(QString, savedAs);
    QFETCH(bool, offered);
    QFETCH(int, progressReports);
    QFETCH(QString, log);

    m_cloud->setResponse(
        versionPath,
        CloudResponder::response(
            200, makeVersionReply("1.0.10.0", 0, "", m_cloud->baseUrl() + urlPath)));
    m_cloud->setResponse(urlPath.toUtf8(), response);
    if (!log.isEmpty())
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(log));

    KIVUpdate updater(m_cloud->baseUrl(), nullptr);
    QStringList order;
    QList<float> progress;
    connect(&updater, &KIVUpdate::updateSignal, this, [&] { order << "update"; });
    connect(&updater, &KIVUpdate::downExeFinish, this, [&] { order << "finish"; });
    connect(&updater, &KIVUpdate::processStatus, this, [&](float value) { progress << value; });
    QSignalSpy finished(&updater, &KIVUpdate::downExeFinish);
    QVERIFY(finished.wait(10000));

    QCOMPARE(order, (offered ? QStringList { "update", "finish" } : QStringList { "finish" }));
    // Nothing but the version request and this download; no redirect followed.
    QCOMPARE(m_cloud->requests().size(), 2);
    QCOMPARE(QFileInfo::exists(KIVUpdate::downloadDirectory() + savedAs), offered);
    // No temporary file is left beside the installer.
    QCOMPARE(QDir(KIVUpdate::downloadDirectory()).entryList(QDir::Files).size(), offered ? 1 : 0);
    if (progressReports >= 0) {
        QCOMPARE(progress.size(), progressReports);
    } else if (offered) {
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last(), 1.0f);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    }
}

void TestKIVUpdate::unwritableInstallerIsNotOffered()
{
    // A folder in the installer's place: neither a ready installer nor writable.
    QVERIFY(QDir().mkpath(KIVUpdate::downloadDirectory() + "blocked.exe"));
    m_cloud->setResponse(
        versionPath,
        CloudResponder::response(
            200, makeVersionReply("1.0.10.0", 0, "", m_cloud->baseUrl() + "/dl/blocked.exe")));
    m_cloud->setResponse("/dl/blocked.exe", CloudResponder::response(200, "installer"));

    KIVUpdate updater(m_cloud->baseUrl(), nullptr);
    QSignalSpy update(&updater, &KIVUpdate::updateSignal);
    QSignalSpy finished(&updater, &KIVUpdate::downExeFinish);
    QVERIFY(finished.wait(10000));
    QCOMPARE(m_cloud->requests().size(), 2);
    QCOMPARE(update.count(), 0);
    QVERIFY(!updater.setup());
}

void TestKIVUpdate::setupStartsInstallerOnce()
{
    // The "installer" leaves a mark in its working folder, which is the download folder.
    const QByteArray script = "#!/bin/sh\necho ran > ran.txt\n";
    m_cloud->setResponse(
        versionPath,
        CloudResponder::response(
            200, makeVersionReply("1.0.10.0", 0, "", m_cloud->baseUrl() + "/dl/setup.sh")));
    m_cloud->setResponse("/dl/setup.sh", CloudResponder::response(200, script));

    KIVUpdate updater(m_cloud->baseUrl(), nullptr);
    QSignalSpy update(&updater, &KIVUpdate::updateSignal);
    QVERIFY(update.wait(10000));
    QVERIFY(updater.setup());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(KIVUpdate::downloadDirectory() + "ran.txt"), 5000);
    QVERIFY(!updater.setup());
}

void TestKIVUpdate::setupWithInstallerMissingBlocksLaterCalls()
{
    m_cloud->setResponse(
        versionPath,
        CloudResponder::response(
            200, makeVersionReply("1.0.10.0", 0, "", m_cloud->baseUrl() + "/dl/setup.sh")));
    m_cloud->setResponse("/dl/setup.sh", CloudResponder::response(200, "#!/bin/sh\n"));

    KIVUpdate updater(m_cloud->baseUrl(), nullptr);
    QSignalSpy update(&updater, &KIVUpdate::updateSignal);
    QVERIFY(update.wait(10000));
    const QString path = KIVUpdate::downloadDirectory() + "setup.sh";
    QVERIFY(QFile::rename(path, path + ".away"));
    QVERIFY(!updater.setup());
    QVERIFY(QFile::rename(path + ".away", path));
    QVERIFY(!updater.setup());

    KIVUpdate idle(m_cloud->baseUrl(), nullptr); // no update offered yet: nothing to start
    QVERIFY(!idle.setup());
}

QTEST_GUILESS_MAIN(TestKIVUpdate)
#include "tst_kivupdate.moc"
