// The headset API: listings without PC paths, byte ranges checked against the file,
// nothing of the control interface, and streams that cannot starve either interface.
#include "fixtures.h"
#include "serviceprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <vector>

class ServiceLanTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void infoAndListing();
    void ranges_data();
    void ranges();
    void headHasNoBody();
    void longVideoArrivesWhole();
    void missingVideos_data();
    void missingVideos();
    void controlRoutesAreNotServed_data();
    void controlRoutesAreNotServed();
    void changedFilesAreNeverServedStale_data();
    void changedFilesAreNeverServedStale();
    void pipelinedRequests();
    void deletedFilesAreNotHeldOpen();
    void stalledStreamsStarveNothing();

private:
    ServiceReply lan(const QByteArray &verb, const QString &path,
                     const QList<QPair<QByteArray, QByteArray>> &headers = {})
    {
        return m_service.send(verb, m_service.lanUrl(path), {}, 30000, headers);
    }

    QTemporaryDir m_temp;
    QString m_root;
    QByteArray m_clipBytes;
    int m_folderId = 0;
    int m_clipId = 0;
    int m_bigId = 0;
    int m_goneId = 0;
    ServiceProcess m_service;
};

void ServiceLanTest::initTestCase()
{
    QVERIFY(m_temp.isValid());
    QString error;
    QVERIFY2(fixtures::make(m_temp.filePath("clips"), { "small.mp4" }, error), qPrintable(error));
    m_root = m_temp.filePath("Shared");
    const QString small = m_temp.filePath("clips/small.mp4");
    QVERIFY(fixtures::copy(small, m_root + "/clip.mp4"));
    QVERIFY(fixtures::copy(small, m_root + "/big.mp4"));
    QVERIFY(fixtures::copy(small, m_root + "/gone.mp4"));
    QFile clip(m_root + "/clip.mp4");
    QVERIFY(clip.open(QIODevice::ReadOnly));
    m_clipBytes = clip.readAll();

    QVERIFY(m_service.start(m_temp.filePath("data"), { "--lan-port", "0" }));
    const ServiceReply imported = m_service.importPath(m_root);
    QCOMPARE(imported.code(), 0);
    m_folderId = imported.data().toObject().value("id").toInt();
    const QJsonArray listing = m_service.list(m_folderId);
    m_clipId = entryNamed(listing, "clip.mp4").value("id").toInt();
    m_bigId = entryNamed(listing, "big.mp4").value("id").toInt();
    m_goneId = entryNamed(listing, "gone.mp4").value("id").toInt();
    QVERIFY(m_clipId > 0 && m_bigId > 0 && m_goneId > 0);

    // Streams of this one outlast the sockets' buffers.
    QFile big(m_root + "/big.mp4");
    QVERIFY(big.open(QIODevice::Append));
    QVERIFY(big.write(QByteArray(24 << 20, '\0')) == 24 << 20);
}

void ServiceLanTest::infoAndListing()
{
    const ServiceReply info = lan("GET", "/api/info");
    QCOMPARE(info.code(), 0);
    QCOMPARE(info.data().toObject().value("deviceName").toString(),
             m_service.get("/settings/").data().toObject().value("deviceName").toString());
    QVERIFY(!info.data().toObject().value("version").toString().isEmpty());

    const ServiceReply top = lan("GET", "/api/files?id=0");
    QCOMPARE(top.code(), 0);
    const QJsonObject folder = entryNamed(top.data().toArray(), "Shared");
    QCOMPARE(folder.value("path").toString(), QString("/Shared"));
    QVERIFY(!folder.contains("real_path"));

    const ServiceReply inside = lan("GET", QStringLiteral("/api/files?id=%1").arg(m_folderId));
    const QJsonObject clip = entryNamed(inside.data().toArray(), "clip.mp4");
    QVERIFY(!clip.contains("real_path"));
    QCOMPARE(clip.value("stream_url").toString(), QStringLiteral("/media/%1").arg(m_clipId));
    QCOMPARE(clip.value("metadata").toObject().value("height").toInt(), 180);
    const ServiceReply cover
        = lan("GET", clip.value("metadata").toObject().value("cover_img").toString());
    QCOMPARE(cover.status, 200);
    QVERIFY(!QImage::fromData(cover.body, "JPG").isNull());
    QCOMPARE(lan("GET", "/api/files?id=987654").code(), -3);

    // All interfaces, not only loopback.
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address.isLoopback() || address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        QTcpSocket socket;
        socket.connectToHost(address, quint16(m_service.lanPort()));
        QVERIFY2(socket.waitForConnected(3000), qPrintable(address.toString()));
    }
}

void ServiceLanTest::ranges_data()
{
    // %S stands for the file's size, %L for its last offset.
    QTest::addColumn<QString>("range");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("length");
    QTest::newRow("no range") << "" << 200 << "0"
                              << "%S";
    QTest::newRow("first hundred") << "bytes=0-99" << 206 << "0"
                                   << "100";
    QTest::newRow("open end") << "bytes=100-" << 206 << "100"
                              << "%S-100";
    QTest::newRow("suffix") << "bytes=-50" << 206 << "%S-50"
                            << "50";
    QTest::newRow("suffix longer than the file") << "bytes=-%S0" << 206 << "0"
                                                 << "%S";
    QTest::newRow("end past the file") << "bytes=10-%S0" << 206 << "10"
                                       << "%S-10";
    QTest::newRow("last byte") << "bytes=%L-%L" << 206 << "%L"
                               << "1";
    QTest::newRow("start at the end") << "bytes=%S-" << 416 << ""
                                      << "";
    QTest::newRow("start past the end") << "bytes=%S0-%S00" << 416 << ""
                                        << "";
    QTest::newRow("empty suffix") << "bytes=-0" << 416 << ""
                                  << "";
    QTest::newRow("start beyond 64 bits") << "bytes=99999999999999999999999-" << 416 << ""
                                          << "";
    QTest::newRow("unit in capitals") << "Bytes=0-99" << 206 << "0"
                                      << "100";
    QTest::newRow("end beyond 63 bits") << "bytes=0-9223372036854775808" << 206 << "0"
                                        << "%S";
    // Ranges that cannot be parsed are refused as well.
    QTest::newRow("reversed") << "bytes=5-2" << 416 << ""
                              << "";
    QTest::newRow("garbage") << "bytes=a-b" << 416 << ""
                             << "";
    // A unit we do not know is ignored, and only single ranges are honoured; HTTP lets a
    // server send the whole file instead.
    QTest::newRow("other unit") << "items=0-1" << 200 << "0"
                                << "%S";
    QTest::newRow("several ranges") << "bytes=0-1,5-6" << 200 << "0"
                                    << "%S";
    QTest::newRow("several ranges, one reversed") << "bytes=0-1,5-2" << 200 << "0"
                                                  << "%S";
}

void ServiceLanTest::ranges()
{
    QFETCH(QString, range);
    QFETCH(int, status);
    const qint64 size = m_clipBytes.size();
    const auto expand = [size](QString text) {
        text.replace("%S", QString::number(size)).replace("%L", QString::number(size - 1));
        if (text.contains('-') && !text.startsWith("bytes", Qt::CaseInsensitive)
            && !text.startsWith("items")) {
            const QStringList parts = text.split('-');
            return QString::number(parts[0].toLongLong() - parts[1].toLongLong());
        }
        return text;
    };
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!range.isEmpty())
        headers.append({ "Range", expand(range).toLatin1() });
    const ServiceReply reply = lan("GET", QStringLiteral("/media/%1").arg(m_clipId), headers);
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.header("Accept-Ranges"), QByteArray("bytes"));
    if (status == 416) {
        QCOMPARE(reply.header("Content-Range"), "bytes */" + QByteArray::number(size));
        QVERIFY(reply.code() != 0);
        return;
    }
    QFETCH(QString, length);
    QFETCH(QString, first);
    const qint64 from = expand(first).toLongLong();
    const qint64 count = expand(length).toLongLong();
    QCOMPARE(reply.header("Content-Type"), QByteArray("video/mp4"));
    QCOMPARE(qint64(reply.body.size()), count);
    QVERIFY(reply.body == m_clipBytes.mid(int(from), int(count)));
    if (status == 206) {
        QCOMPARE(
            reply.header("Content-Range"),
            QStringLiteral("bytes %1-%2/%3").arg(from).arg(from + count - 1).arg(size).toLatin1());
    }
}

void ServiceLanTest::headHasNoBody()
{
    const ServiceReply reply = lan("HEAD", QStringLiteral("/media/%1").arg(m_clipId));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.header("Content-Length"), QByteArray::number(m_clipBytes.size()));
    QCOMPARE(reply.header("Accept-Ranges"), QByteArray("bytes"));
    QVERIFY(reply.body.isEmpty());
}

void ServiceLanTest::longVideoArrivesWhole()
{
    // Many pieces, each larger than the socket takes at once, and a range that starts inside one.
    QFile big(m_root + "/big.mp4");
    QVERIFY(big.open(QIODevice::ReadOnly));
    const QByteArray bytes = big.readAll();
    const ServiceReply whole = lan("GET", QStringLiteral("/media/%1").arg(m_bigId));
    QCOMPARE(whole.status, 200);
    QCOMPARE(whole.body.size(), bytes.size());
    QVERIFY(whole.body == bytes);
    const ServiceReply tail
        = lan("GET", QStringLiteral("/media/%1").arg(m_bigId), { { "Range", "bytes=1000000-" } });
    QCOMPARE(tail.status, 206);
    QVERIFY(tail.body == bytes.mid(1000000));
}

void ServiceLanTest::missingVideos_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("file gone from the disk") << "gone";
    QTest::newRow("unknown id") << "/media/987654";
    QTest::newRow("a folder") << "folder";
    QTest::newRow("not an id") << "/media/abc";
    QTest::newRow("a path") << "/media/%2Fetc%2Fpasswd";
}

void ServiceLanTest::missingVideos()
{
    QFETCH(QString, path);
    QFile::remove(m_root + "/gone.mp4");
    if (path == "gone")
        path = QStringLiteral("/media/%1").arg(m_goneId);
    else if (path == "folder")
        path = QStringLiteral("/media/%1").arg(m_folderId);
    const ServiceReply reply = lan("GET", path);
    QCOMPARE(reply.status, 404);
    QVERIFY(reply.code() != 0);
    QVERIFY(reply.header("Content-Type").startsWith("application/json"));
}

void ServiceLanTest::controlRoutesAreNotServed_data()
{
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<QString>("path");
    QTest::newRow("listing") << QByteArray("GET") << "/files?id=0";
    QTest::newRow("import") << QByteArray("POST") << "/files";
    QTest::newRow("remove") << QByteArray("DELETE") << "/files/1";
    QTest::newRow("settings") << QByteArray("GET") << "/settings/";
    QTest::newRow("change settings") << QByteArray("PUT") << "/settings/";
    QTest::newRow("cancel") << QByteArray("DELETE") << "/requests/x";
    QTest::newRow("database file") << QByteArray("GET") << "/library.db";
    QTest::newRow("upload to media") << QByteArray("PUT") << "/media/1";
}

void ServiceLanTest::controlRoutesAreNotServed()
{
    QFETCH(QByteArray, verb);
    QFETCH(QString, path);
    const int before = m_service.list(m_folderId).size();
    const ServiceReply reply
        = m_service.send(verb, m_service.lanUrl(path), importBody(m_root + "/clip.mp4"), 30000);
    QVERIFY2(reply.status == 404 || reply.status == 400, qPrintable(QString::number(reply.status)));
    QVERIFY(reply.code() != 0);
    QCOMPARE(m_service.list(m_folderId).size(), before);
}

void ServiceLanTest::changedFilesAreNeverServedStale_data()
{
    // What happens to a video after a player has streamed it, and what it gets next: the new
    // bytes, or 404 when there are none.
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("status");
    QTest::newRow("removed from the library") << "remove" << 404;
    QTest::newRow("deleted from the disk") << "delete" << 404;
    QTest::newRow("replaced by a rename over it") << "rename over" << 200;
    QTest::newRow("moved aside, another put in its place") << "move aside" << 200;
    QTest::newRow("rewritten in place, shorter") << "rewrite" << 200;
    QTest::newRow("rewritten in place, longer") << "grow" << 200;
}

void ServiceLanTest::changedFilesAreNeverServedStale()
{
    QFETCH(QString, change);
    QFETCH(int, status);
    const QString path = m_temp.filePath("changes/" + QString(QTest::currentDataTag()) + ".mp4");
    QVERIFY(fixtures::copy(m_temp.filePath("clips/small.mp4"), path));
    const ServiceReply imported = m_service.importPath(path);
    QCOMPARE(imported.code(), 0);
    const QString url
        = QStringLiteral("/media/%1").arg(imported.data().toObject().value("id").toInt());
    for (int i = 0; i < 2; ++i) {
        const ServiceReply before = lan("GET", url, { { "Range", "bytes=0-99" } });
        QCOMPARE(before.status, 206);
        QVERIFY(before.body == m_clipBytes.left(100));
    }

    const QByteArray fresh = change == "grow" ? m_clipBytes + QByteArray(5000, 'g')
                                              : QByteArray(3000, change.at(0).toLatin1());
    const auto writeFile = [](const QString &name, const QByteArray &bytes) {
        QFile file(name);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(bytes) == bytes.size();
    };
    if (change == "remove") {
        QCOMPARE(m_service.del(url.mid(6).prepend("/files")).code(), 0);
    } else if (change == "delete") {
        QVERIFY(QFile::remove(path));
    } else if (change == "rename over") {
        QVERIFY(writeFile(path + ".new", fresh));
        QVERIFY(::rename(QFile::encodeName(path + ".new"), QFile::encodeName(path)) == 0);
    } else if (change == "move aside") {
        QVERIFY(QFile::rename(path, path + ".old"));
        QVERIFY(writeFile(path, fresh));
    } else {
        QVERIFY(writeFile(path, fresh));
    }

    const ServiceReply whole = lan("GET", url);
    QCOMPARE(whole.status, status);
    const ServiceReply tail = lan("GET", url, { { "Range", "bytes=-10" } });
    if (status == 404) {
        QVERIFY(whole.code() != 0);
        QCOMPARE(tail.status, 404);
        return;
    }
    QCOMPARE(whole.header("Content-Length"), QByteArray::number(fresh.size()));
    QVERIFY(whole.body == fresh);
    QCOMPARE(tail.status, 206);
    QVERIFY(tail.body == fresh.right(10));
    QCOMPARE(tail.header("Content-Range"),
             QStringLiteral("bytes %1-%2/%3")
                 .arg(fresh.size() - 10)
                 .arg(fresh.size() - 1)
                 .arg(fresh.size())
                 .toLatin1());
}

void ServiceLanTest::pipelinedRequests()
{
    // Players may send the next request before the answer to the last one is in; each answer
    // comes whole and in order.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(m_service.lanPort()));
    QVERIFY(socket.waitForConnected(3000));
    QByteArray requests;
    for (const char *range : { "0-9", "100-119", "-5" })
        requests += QStringLiteral(
                        "GET /media/%1 HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=%2\r\n\r\n")
                        .arg(m_clipId)
                        .arg(range)
                        .toLatin1();
    requests += "HEAD /api/info HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    socket.write(requests);
    QByteArray answer;
    QElapsedTimer timer;
    timer.start();
    while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < 5000) {
        socket.waitForReadyRead(100);
        answer += socket.readAll();
    }
    answer += socket.readAll();
    const QByteArray expected[]
        = { m_clipBytes.mid(0, 10), m_clipBytes.mid(100, 20), m_clipBytes.right(5) };
    int at = 0;
    for (const QByteArray &body : expected) {
        at = answer.indexOf("HTTP/1.1 206", at);
        QVERIFY2(at >= 0, answer.left(2000).constData());
        const int start = answer.indexOf("\r\n\r\n", at) + 4;
        QVERIFY(answer.mid(start, body.size()) == body);
        at = start + body.size();
    }
    QVERIFY(answer.mid(at).startsWith("HTTP/1.1 200"));
}

void ServiceLanTest::deletedFilesAreNotHeldOpen()
{
    // Space of a video deleted on the disk comes back once its player has gone.
    const QString path = m_temp.filePath("held/clip.mp4");
    QVERIFY(fixtures::copy(m_temp.filePath("clips/small.mp4"), path));
    const ServiceReply imported = m_service.importPath(path);
    QCOMPARE(imported.code(), 0);
    const QByteArray request = QStringLiteral("GET /media/%1 HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: "
                                              "bytes=0-9\r\n\r\n")
                                   .arg(imported.data().toObject().value("id").toInt())
                                   .toLatin1();
    const auto heldOpen = [this, &path] {
        const QString fds = QStringLiteral("/proc/%1/fd").arg(m_service.process().processId());
        for (const QFileInfo &fd : QDir(fds).entryInfoList(QDir::Files | QDir::System)) {
            if (fd.symLinkTarget().startsWith(path))
                return true;
        }
        return false;
    };
    {
        QTcpSocket player;
        player.connectToHost(QHostAddress::LocalHost, quint16(m_service.lanPort()));
        QVERIFY(player.waitForConnected(3000));
        for (int i = 0; i < 2; ++i) {
            player.write(request);
            QByteArray answer;
            while (!answer.endsWith(m_clipBytes.left(10)) && player.waitForReadyRead(3000))
                answer += player.readAll();
            QVERIFY(answer.startsWith("HTTP/1.1 206"));
        }
        // Kept for the player's next request meanwhile.
        QVERIFY(heldOpen());
        QVERIFY(QFile::remove(path));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!heldOpen(), 3000);
}

void ServiceLanTest::stalledStreamsStarveNothing()
{
    // Players that ask for a long video and then read nothing each hold a thread.
    std::vector<std::unique_ptr<QTcpSocket>> players;
    const QByteArray request = QStringLiteral("GET /media/%1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                                   .arg(m_bigId)
                                   .toLatin1();
    for (int i = 0; i < 40; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->setReadBufferSize(1);
        // From two hosts, as one may hold only so many connections.
        QVERIFY(socket->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + i % 2))));
        socket->connectToHost(QHostAddress::LocalHost, quint16(m_service.lanPort()));
        QVERIFY(socket->waitForConnected(3000));
        socket->write(request);
        QVERIFY(socket->waitForBytesWritten(3000));
        players.push_back(std::move(socket));
    }
    QTest::qWait(300);
    QElapsedTimer timer;
    timer.start();
    const ServiceReply info = lan("GET", "/api/info");
    QVERIFY2(info.code() == 0, qPrintable(QString::number(info.status) + info.body));
    QCOMPARE(m_service.get("/settings/", 3000).code(), 0);
    QCOMPARE(lan("GET", QStringLiteral("/api/files?id=%1").arg(m_folderId)).code(), 0);
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));

    // Stalled streams do not hold up the end either.
    const int elapsed = m_service.terminate(5000);
    QVERIFY2(elapsed >= 0 && elapsed < 1500, qPrintable(QString::number(elapsed)));
    QCOMPARE(m_service.process().exitCode(), 0);
}

QTEST_MAIN(ServiceLanTest)
#include "tst_service_lan.moc"
