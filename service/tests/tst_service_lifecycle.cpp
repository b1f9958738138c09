// The service's life around long imports: cancel, SIGTERM, kill -9 and restart, a damaged
// library file, and a port that is taken.
#include "fixtures.h"
#include "serviceprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTest>

namespace {
constexpr int ManyFiles = 800;
}

class ServiceLifecycleTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cancelRollsImportBack();
    void sigtermEndsImportQuickly();
    void killDuringImportLeavesLibraryConsistent();
    void damagedLibraryIsSetAside();
    void takenPortEndsService();

private:
    // Starts importing the big folder without waiting for the answer.
    QNetworkReply *startImport(ServiceProcess &service, const QString &reqId);
    int countVideos(ServiceProcess &service, qint64 folder);

    QTemporaryDir m_temp;
    QString m_many;
    QNetworkAccessManager m_network;
};

void ServiceLifecycleTest::initTestCase()
{
    QVERIFY(m_temp.isValid());
    QString error;
    QVERIFY2(fixtures::make(m_temp.filePath("clips"), { "small.mp4" }, error), qPrintable(error));
    m_many = m_temp.filePath("Many");
    for (int i = 0; i < ManyFiles; ++i) {
        QVERIFY(fixtures::link(m_temp.filePath("clips/small.mp4"),
                               m_many + QStringLiteral("/part%1/clip%2.mp4").arg(i % 4).arg(i)));
    }
}

QNetworkReply *ServiceLifecycleTest::startImport(ServiceProcess &service, const QString &reqId)
{
    QNetworkRequest request(QUrl(service.url("/files?reqId=" + reqId)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json; charset=utf-8");
    QNetworkReply *reply = m_network.post(request, importBody(m_many));
    // Let the import get going (reading 800 files takes a few seconds).
    QTest::qWait(300);
    return reply;
}

int ServiceLifecycleTest::countVideos(ServiceProcess &service, qint64 folder)
{
    int count = 0;
    for (const QJsonValue &value : service.list(folder)) {
        const QJsonObject entry = value.toObject();
        if (entry.value("type").toString() == "directory")
            count += countVideos(service, entry.value("id").toInt());
        else
            ++count;
    }
    return count;
}

void ServiceLifecycleTest::cancelRollsImportBack()
{
    ServiceProcess service;
    QVERIFY(service.start(m_temp.filePath("data-cancel")));
    QNetworkReply *reply = startImport(service, "cancel-me");
    QVERIFY(!reply->isFinished());
    // Reading the library does not wait for the import.
    QElapsedTimer listing;
    listing.start();
    QVERIFY(service.list(0).isEmpty());
    QVERIFY2(listing.elapsed() < 1000, qPrintable(QString::number(listing.elapsed())));
    QVERIFY(!reply->isFinished());
    const ServiceReply cancel = service.del("/requests/cancel-me");
    QCOMPARE(cancel.code(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 5000);
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 204);
    QVERIFY(reply->readAll().isEmpty());
    reply->deleteLater();
    QVERIFY(entryNamed(service.list(0), "Many").isEmpty());

    // Nothing is left half-done: the next import of the same folder brings in everything.
    const ServiceReply again = service.importPath(m_many);
    QCOMPARE(again.code(), 0);
    QCOMPARE(again.data().toObject().value("successCount").toInt(), ManyFiles);
    QCOMPARE(countVideos(service, again.data().toObject().value("id").toInt()), ManyFiles);
}

void ServiceLifecycleTest::sigtermEndsImportQuickly()
{
    ServiceProcess service;
    QVERIFY(service.start(m_temp.filePath("data-term")));
    QNetworkReply *reply = startImport(service, "term");
    QVERIFY(!reply->isFinished());
    const int elapsed = service.terminate(5000);
    QVERIFY2(elapsed >= 0 && elapsed < 1500, qPrintable(QString::number(elapsed)));
    QCOMPARE(service.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.process().exitCode(), 0);
    reply->deleteLater();

    QVERIFY(service.start(m_temp.filePath("data-term")));
    QVERIFY(entryNamed(service.list(0), "Many").isEmpty());
}

void ServiceLifecycleTest::killDuringImportLeavesLibraryConsistent()
{
    const QString data = m_temp.filePath("data-kill");
    ServiceProcess service;
    QVERIFY(service.start(data));
    const QString small = m_temp.filePath("clips/small.mp4");
    QCOMPARE(service.importPath(small).code(), 0);

    QNetworkReply *reply = startImport(service, "killed");
    service.kill();
    reply->deleteLater();

    QVERIFY(service.start(data));
    const QJsonArray top = service.list(0);
    QVERIFY(!entryNamed(top, "small.mp4").isEmpty());
    // Either the whole import was written or none of it.
    const QJsonObject many = entryNamed(top, "Many");
    if (!many.isEmpty())
        QCOMPARE(countVideos(service, many.value("id").toInt()), ManyFiles);
    const ServiceReply again = service.importPath(m_many);
    QCOMPARE(again.code(), 0);
    QCOMPARE(countVideos(service, again.data().toObject().value("id").toInt()), ManyFiles);
}

void ServiceLifecycleTest::damagedLibraryIsSetAside()
{
    const QString data = m_temp.filePath("data-damaged");
    QVERIFY(fixtures::writeText(data + "/library.db", QByteArray(8192, 'x')));
    ServiceProcess service;
    QVERIFY(service.start(data));
    QCOMPARE(service.list(0).size(), 0);
    QCOMPARE(service.importPath(m_temp.filePath("clips/small.mp4")).code(), 0);
    QCOMPARE(QDir(data).entryList({ "library.db.broken-*" }).size(), 1);
}

void ServiceLifecycleTest::takenPortEndsService()
{
    ServiceProcess first;
    QVERIFY(first.start(m_temp.filePath("data-port-1")));
    ServiceProcess second;
    QVERIFY(
        !second.start(m_temp.filePath("data-port-2"), { "--port", QString::number(first.port()) }));
    QVERIFY(second.process().state() == QProcess::NotRunning
            || second.process().waitForFinished(5000));
    QCOMPARE(second.process().exitCode(), 1);
    // The reason is in the day's log file in the data folder.
    const QStringList logs = QDir(m_temp.filePath("data-port-2/logs")).entryList({ "*.txt" });
    QCOMPARE(logs.size(), 1);
    QFile log(m_temp.filePath("data-port-2/logs/" + logs.first()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(
        log.readAll().contains("cannot listen on 127.0.0.1:" + QByteArray::number(first.port())));
    QCOMPARE(first.get("/settings/").code(), 0);
}

QTEST_MAIN(ServiceLifecycleTest)
#include "tst_service_lifecycle.moc"
