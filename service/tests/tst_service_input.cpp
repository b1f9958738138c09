// Hostile and odd input: every malformed request gets a JSON error reply, what a web page can
// send is refused, odd folders are imported without hanging or crashing, the control port is
// reachable only on loopback, and slow or greedy clients cannot starve the service.
#include "fixtures.h"
#include "serviceprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

// One exchange on a connection of its own, with headers that QNetworkAccessManager would not
// send (or would send otherwise).
struct RawReply
{
    QByteArray answer;
    qint64 elapsedMs = -1; // until the reply was whole
    bool closed = false; // the service ended the connection after it
    int status() const { return answer.startsWith("HTTP/1.1 ") ? answer.mid(9, 3).toInt() : 0; }
    QByteArray body() const { return answer.mid(answer.indexOf("\r\n\r\n") + 4); }
    QJsonObject json() const { return QJsonDocument::fromJson(body()).object(); }
};

RawReply exchange(quint16 port, const QByteArray &request, bool waitForEnd)
{
    RawReply reply;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return reply;
    QElapsedTimer timer;
    timer.start();
    socket.write(request);
    const auto whole = [&reply] {
        const int headEnd = reply.answer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return false;
        const int at = reply.answer.toLower().indexOf("\r\ncontent-length: ");
        const int length = at < 0 ? 0 : reply.answer.mid(at + 18).split('\r').first().toInt();
        return reply.answer.size() >= headEnd + 4 + length;
    };
    while (!whole() && timer.elapsed() < 8000
           && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(100);
        reply.answer += socket.readAll();
    }
    if (whole())
        reply.elapsedMs = timer.elapsed();
    if (waitForEnd && socket.state() == QAbstractSocket::ConnectedState)
        socket.waitForDisconnected(3000);
    reply.closed = socket.state() != QAbstractSocket::ConnectedState;
    return reply;
}

qint64 peakMemoryKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace

class ServiceInputTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void badRequests_data();
    void badRequests();
    void malformedHttp_data();
    void malformedHttp();
    void oddFolders();
    void unreadableFolder();
    void fileChangedDuringImport();
    void controlPortOnlyOnLoopback();
    void smallRepliesAreNotDelayed();
    void requestRules_data();
    void requestRules();
    void rangesOnlyForBytes_data();
    void rangesOnlyForBytes();
    void slowClientsCannotStarveTheAssistant();
    void oneClientCannotTakeEveryThread();

private:
    QTemporaryDir m_temp;
    QString m_clips;
    qint64 m_videoId = 0;
    ServiceProcess m_service;
};

void ServiceInputTest::initTestCase()
{
    QVERIFY(m_temp.isValid());
    m_clips = m_temp.filePath("clips");
    QString error;
    QVERIFY2(fixtures::make(m_clips, { "small.mp4", "truncated.mp4" }, error), qPrintable(error));
    QVERIFY(m_service.start(m_temp.filePath("data"), { "--lan-port", "0" }));
    QVERIFY(::mkfifo(QFile::encodeName(m_temp.filePath("pipe.mp4")).constData(), 0600) == 0);
    QVERIFY(QFile::link("/", m_temp.filePath("everything")));
    const ServiceReply video = m_service.importPath(m_clips + "/small.mp4");
    QCOMPARE(video.code(), 0);
    m_videoId = video.data().toObject().value("id").toInt();
}

void ServiceInputTest::badRequests_data()
{
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("code");

    const QByteArray clip = QFile::encodeName(m_clips + "/small.mp4");
    const auto withPath = [](const QByteArray &path, const QByteArray &more = {}) {
        return QByteArray(R"({"path":")") + path + '"' + more + '}';
    };
    QTest::newRow("body not JSON")
        << QByteArray("POST") << "/files" << QByteArray("{\"path\":") << -1;
    QTest::newRow("empty body") << QByteArray("POST") << "/files" << QByteArray() << -1;
    QTest::newRow("array body") << QByteArray("POST") << "/files" << QByteArray("[1,2]") << -1;
    QTest::newRow("deep nesting") << QByteArray("POST") << "/files"
                                  << QByteArray(100000, '[') + QByteArray(100000, ']') << -1;
    QTest::newRow("huge body") << QByteArray("POST") << "/files"
                               << withPath("/tmp/" + QByteArray(2 << 20, 'a')) << -1;
    QTest::newRow("path a number")
        << QByteArray("POST") << "/files" << QByteArray(R"({"path":5})") << -1;
    QTest::newRow("path empty") << QByteArray("POST") << "/files" << withPath("") << -1;
    QTest::newRow("path relative")
        << QByteArray("POST") << "/files" << withPath("clips/small.mp4") << -1;
    QTest::newRow("path with ..") << QByteArray("POST") << "/files"
                                  << withPath(QFile::encodeName(m_clips) + "/../clips/small.mp4")
                                  << -1;
    QTest::newRow("path with NUL")
        << QByteArray("POST") << "/files" << withPath(clip + "\\u0000.mp4") << -1;
    QTest::newRow("file system root") << QByteArray("POST") << "/files" << withPath("/") << -4;
    QTest::newRow("link to the root")
        << QByteArray("POST") << "/files"
        << withPath(QFile::encodeName(m_temp.filePath("everything"))) << -4;
    QTest::newRow("root seen from /proc")
        << QByteArray("POST") << "/files" << withPath("/proc/self/root") << -4;
    QTest::newRow("below /proc, through the root")
        << QByteArray("POST") << "/files" << withPath("/proc/self/root/proc/self") << -4;
    QTest::newRow("/sys") << QByteArray("POST") << "/files" << withPath("/sys") << -4;
    QTest::newRow("/run") << QByteArray("POST") << "/files" << withPath("/run") << -4;
    QTest::newRow("FIFO named like a video")
        << QByteArray("POST") << "/files"
        << withPath(QFile::encodeName(m_temp.filePath("pipe.mp4"))) << -4;
    QTest::newRow("device") << QByteArray("POST") << "/files" << withPath("/dev/null") << -4;
    QTest::newRow("filters a string")
        << QByteArray("POST") << "/files" << withPath(clip, R"(,"filters":".mp4")") << -1;
    QTest::newRow("filters with a number")
        << QByteArray("POST") << "/files" << withPath(clip, R"(,"filters":[".mp4",4])") << -1;
    QTest::newRow("pid a string") << QByteArray("POST") << "/files"
                                  << withPath(clip, R"(,"pid":"3")") << -1;
    QTest::newRow("pid negative") << QByteArray("POST") << "/files"
                                  << withPath(clip, R"(,"pid":-1)") << -1;
    QTest::newRow("pid fraction") << QByteArray("POST") << "/files"
                                  << withPath(clip, R"(,"pid":1.5)") << -1;
    QTest::newRow("depth a string")
        << QByteArray("POST") << "/files" << withPath(clip, R"(,"depth":"1")") << -1;

    QTest::newRow("list negative id") << QByteArray("GET") << "/files?id=-1" << QByteArray() << -1;
    QTest::newRow("list text id") << QByteArray("GET") << "/files?id=abc" << QByteArray() << -1;
    QTest::newRow("list fraction id") << QByteArray("GET") << "/files?id=1.5" << QByteArray() << -1;
    QTest::newRow("list overlong id")
        << QByteArray("GET") << "/files?id=99999999999999999999999" << QByteArray() << -1;
    QTest::newRow("list unknown id")
        << QByteArray("GET") << "/files?id=987654" << QByteArray() << -3;
    QTest::newRow("list a video") << QByteArray("GET")
                                  << QStringLiteral("/files?id=%1").arg(m_videoId) << QByteArray()
                                  << -1;
    QTest::newRow("remove root") << QByteArray("DELETE") << "/files/0" << QByteArray() << -1;
    QTest::newRow("remove negative id")
        << QByteArray("DELETE") << "/files/-3" << QByteArray() << -1;
    QTest::newRow("remove text id") << QByteArray("DELETE") << "/files/abc" << QByteArray() << -1;
    QTest::newRow("remove without id") << QByteArray("DELETE") << "/files/" << QByteArray() << -1;
    QTest::newRow("remove unknown id")
        << QByteArray("DELETE") << "/files/987654" << QByteArray() << -3;
    QTest::newRow("cover unknown")
        << QByteArray("GET") << "/covers/987654.jpg" << QByteArray() << -3;
    QTest::newRow("cover text id") << QByteArray("GET") << "/covers/abc.jpg" << QByteArray() << -3;
    QTest::newRow("cancel unknown request")
        << QByteArray("DELETE") << "/requests/nothing" << QByteArray() << -3;
    QTest::newRow("settings not JSON")
        << QByteArray("PUT") << "/settings/" << QByteArray("name=x") << -1;
    QTest::newRow("unknown endpoint") << QByteArray("GET") << "/library.db" << QByteArray() << -1;
    QTest::newRow("unknown method") << QByteArray("PATCH") << "/files" << QByteArray("{}") << -1;
}

void ServiceInputTest::badRequests()
{
    QFETCH(QByteArray, verb);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, code);
    const int before = m_service.list(0).size();
    const ServiceReply reply = m_service.send(verb, path, body, 30000);
    QVERIFY2(reply.status >= 400, qPrintable(QString::number(reply.status)));
    QVERIFY2(!reply.json.isEmpty(), reply.body.left(200).constData());
    QCOMPARE(reply.code(), code);
    QVERIFY(!reply.msg().isEmpty());
    QCOMPARE(m_service.list(0).size(), before);
}

void ServiceInputTest::malformedHttp_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("status"); // 0: whatever the answer
    QTest::newRow("garbage request line") << QByteArray("NOT HTTP AT ALL\r\n\r\n") << 400;
    QTest::newRow("overlong header")
        << QByteArray("GET /files HTTP/1.1\r\nX-Long: " + QByteArray(20000, 'x') + "\r\n\r\n") << 0;
    QTest::newRow("body shorter than its length") << QByteArray(
        "POST /files HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_service.port())
        + "\r\nContent-Type: application/json\r\nContent-Length: 100\r\n"
          "Connection: close\r\n\r\n{\"pa") << 0;
    // A body on a GET must not be taken for a second request, whose answer would then reach
    // the next request on the connection.
    const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(m_service.port()) + "\r\n";
    const QByteArray second = "GET /files?id=0 HTTP/1.1\r\n" + host + "\r\n";
    QTest::newRow("GET with a body")
        << QByteArray("GET /settings/ HTTP/1.1\r\n" + host + "Content-Length: "
                      + QByteArray::number(second.size()) + "\r\n\r\n" + second)
        << 400;
}

void ServiceInputTest::malformedHttp()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, status);
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(m_service.port()));
        QVERIFY(socket.waitForConnected(5000));
        socket.write(raw);
        socket.waitForBytesWritten(5000);
        if (status) {
            QByteArray answer;
            QElapsedTimer timer;
            timer.start();
            // The connection must end after the one answer when a body was left unread.
            const bool waitForEnd = QByteArray(QTest::currentDataTag()) == "GET with a body";
            while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < 5000
                   && (waitForEnd || !answer.endsWith('}'))) {
                socket.waitForReadyRead(100);
                answer += socket.readAll();
            }
            answer += socket.readAll();
            QVERIFY2(answer.startsWith("HTTP/1.1 " + QByteArray::number(status)),
                     answer.constData());
            QCOMPARE(answer.count("HTTP/1.1 "), 1);
            QVERIFY(answer.contains("\"code\":-1"));
            // The client learns that the connection ends here, and it does.
            QVERIFY(answer.contains("\r\nConnection: close\r\n"));
            QVERIFY(socket.state() != QAbstractSocket::ConnectedState
                    || socket.waitForDisconnected(3000));
        } else {
            // A short body ends at the read timeout; the service stays up meanwhile.
            socket.waitForReadyRead(200);
        }
    }
    QCOMPARE(m_service.get("/settings/").code(), 0);
}

void ServiceInputTest::oddFolders()
{
    const QString root = m_temp.filePath("odd");
    QVERIFY(fixtures::copy(m_clips + "/small.mp4", root + "/A/clip.mp4"));
    // A link back up makes a loop; a second link to the same folder must not double it.
    QVERIFY(QFile::link(root, root + "/A/loop"));
    QVERIFY(QFile::link(root + "/A", root + "/again"));
    QVERIFY(::mkfifo(QFile::encodeName(root + "/A/pipe.mp4").constData(), 0600) == 0);
    const QByteArray badName = QFile::encodeName(root)
        + "/A/bad\xff"
          "name.mp4";
    QVERIFY(::link(QFile::encodeName(m_clips + "/small.mp4").constData(), badName.constData())
            == 0);
    QVERIFY(QFile::link(root + "/nowhere", root + "/A/dangling.mp4"));
    // Links to the system's root and to the folder that holds this one would take in every
    // video on the machine (the test's own clips among them).
    QVERIFY(QFile::link("/", root + "/A/everything"));
    QVERIFY(QFile::link(m_temp.path(), root + "/up"));

    const ServiceReply reply = m_service.importPath(root);
    QCOMPARE(reply.code(), 0);
    QCOMPARE(reply.data().toObject().value("successCount").toInt(), 1);
    // A name that is not text cannot be listed, so it counts as a failure.
    QCOMPARE(reply.data().toObject().value("failureCount").toInt(), 1);
    const QJsonArray top = m_service.list(reply.data().toObject().value("id").toInt());
    QCOMPARE(top.size(), 1);
    QCOMPARE(m_service.list(entryNamed(top, "A").value("id").toInt()).size(), 1);
}

void ServiceInputTest::unreadableFolder()
{
    if (::geteuid() == 0)
        QSKIP("permissions do not bind the superuser");
    const QString root = m_temp.filePath("locked");
    QVERIFY(fixtures::copy(m_clips + "/small.mp4", root + "/Open/clip.mp4"));
    QVERIFY(fixtures::copy(m_clips + "/small.mp4", root + "/Shut/clip.mp4"));
    const ServiceReply first = m_service.importPath(root);
    QCOMPARE(first.data().toObject().value("successCount").toInt(), 2);
    const int rootId = first.data().toObject().value("id").toInt();

    // What the library holds below a folder that cannot be read is kept, not dropped.
    QVERIFY(::chmod(QFile::encodeName(root + "/Shut").constData(), 0) == 0);
    const ServiceReply again = m_service.importPath(root);
    ::chmod(QFile::encodeName(root + "/Shut").constData(), 0700);
    QCOMPARE(again.code(), 0);
    QCOMPARE(m_service.list(rootId).size(), 2);

    QVERIFY(::chmod(QFile::encodeName(root).constData(), 0) == 0);
    const ServiceReply shut = m_service.importPath(root);
    ::chmod(QFile::encodeName(root).constData(), 0700);
    QCOMPARE(shut.code(), -5);
}

void ServiceInputTest::fileChangedDuringImport()
{
    const QString root = m_temp.filePath("changing");
    const QString victim = root + "/victim.mp4";
    QVERIFY(fixtures::copy(m_clips + "/small.mp4", victim));
    for (int i = 0; i < 150; ++i)
        QVERIFY(fixtures::link(m_clips + "/small.mp4",
                               root + QStringLiteral("/%1.mp4").arg(i, 3, 10, QChar('0'))));

    // The import runs in the service while this thread cuts a file short.
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(m_service.url("/files?reqId=changing")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    QNetworkReply *reply = network.post(request, importBody(root));
    QTest::qWait(100);
    QFile file(victim);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.resize(file.size() / 2));
    file.close();
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 50000);
    const QJsonObject data
        = QJsonDocument::fromJson(reply->readAll()).object().value("data").toObject();
    reply->deleteLater();
    QCOMPARE(data.value("successCount").toInt() + data.value("failureCount").toInt(), 151);
    QCOMPARE(m_service.list(data.value("id").toInt()).size(), data.value("successCount").toInt());
}

void ServiceInputTest::controlPortOnlyOnLoopback()
{
    QHostAddress outside;
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol)
            outside = address;
    }
    if (outside.isNull())
        QSKIP("this machine has no address besides loopback");
    QTcpSocket socket;
    socket.connectToHost(outside, quint16(m_service.port()));
    QVERIFY(!socket.waitForConnected(3000));
    QCOMPARE(socket.error(), QAbstractSocket::ConnectionRefusedError);
    QCOMPARE(m_service.get("/settings/").code(), 0);
}

void ServiceInputTest::smallRepliesAreNotDelayed()
{
    // With Nagle's algorithm on, a reply written in two pieces waits for the client's delayed
    // acknowledgement, about 40 ms each on one keep-alive connection.
    m_service.get("/settings/");
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 20; ++i)
        QCOMPARE(m_service.get("/settings/").code(), 0);
    QVERIFY2(timer.elapsed() < 600, qPrintable(QString::number(timer.elapsed())));
}

void ServiceInputTest::requestRules_data()
{
    // "{port}" stands for the port the request goes to.
    QTest::addColumn<bool>("lan");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("ends"); // the connection, as the rest of the request is left unread
    const QByteArray host = "Host: 127.0.0.1:{port}\r\n";
    // What the assistant's QNetworkAccessManager sends besides its own header.
    const QByteArray qt = "Connection: Keep-Alive\r\nAccept-Encoding: gzip, deflate\r\n"
                          "Accept-Language: en,*\r\nUser-Agent: Mozilla/5.0\r\n";
    const QByteArray json = "Content-Type: application/json; charset=utf-8\r\n";
    const auto request
        = [](const char *line, const QByteArray &headers, const QByteArray &body = {}) {
              return QByteArray(line) + " HTTP/1.1\r\n" + headers
                  + (body.isNull() ? QByteArray()
                                   : "Content-Length: " + QByteArray::number(body.size()) + "\r\n")
                  + "\r\n" + body;
          };
    const QByteArray missing = R"({"path":"/nowhere/at/all.mp4"})";
    const QByteArray list = "GET /files?id=0";

    // The assistant's own requests, and another name of the loopback.
    QTest::newRow("assistant lists")
        << false << request(list, host + json + qt) << 200 << 0 << false;
    QTest::newRow("assistant imports")
        << false << request("POST /files", host + json + qt, missing) << 404 << -3 << false;
    QTest::newRow("assistant cancels")
        << false << request("DELETE /requests/none", host + json + qt) << 404 << -3 << false;
    QTest::newRow("localhost, JSON without charset")
        << false
        << request("POST /files", "Host: localhost:{port}\r\nContent-Type: application/json\r\n",
                   missing)
        << 404 << -3 << false;

    // A rebound name, or none.
    QTest::newRow("foreign host") << false << request(list, "Host: evil.example:{port}\r\n") << 403
                                  << -1 << true;
    QTest::newRow("no host") << false << request(list, {}) << 403 << -1 << true;
    QTest::newRow("HTTP/1.0, no host")
        << false << QByteArray("GET /files?id=0 HTTP/1.0\r\n\r\n") << 403 << -1 << true;
    QTest::newRow("two hosts") << false << request(list, host + "Host: evil.example\r\n") << 403
                               << -1 << true;
    // What only a browser sends.
    QTest::newRow("origin") << false << request(list, host + "Origin: http://evil.example\r\n")
                            << 403 << -1 << true;
    QTest::newRow("preflight")
        << false
        << request("OPTIONS /files",
                   host + "Origin: null\r\nAccess-Control-Request-Method: PUT\r\n")
        << 403 << -1 << true;
    QTest::newRow("text/plain import")
        << false << request("POST /files", host + "Content-Type: text/plain\r\n", missing) << 415
        << -1 << true;
    // Bodies whose end is unknown, or too large to be read.
    QTest::newRow("chunked") << false
                             << request("POST /files",
                                        host + json + "Transfer-Encoding: chunked\r\n")
            + "10000000\r\n" + QByteArray(4096, '[')
                             << 411 << -1 << true;
    QTest::newRow("no length") << false << request("POST /files", host + json) + missing << 411
                               << -1 << true;
    QTest::newRow("negative length")
        << false << request("POST /files", host + json + "Content-Length: -1\r\n") + missing << 400
        << -1 << true;
    QTest::newRow("length beyond 64 bits")
        << false
        << request("POST /files", host + json + "Content-Length: 18446744073709551616\r\n")
            + missing
        << 413 << -1 << true;
    QTest::newRow("deep JSON") << false
                               << request("POST /files", host + json,
                                          QByteArray(500000, '[') + QByteArray(500000, ']'))
                               << 400 << -1 << false;
    QTest::newRow("wide JSON") << false
                               << request("POST /files", host + json,
                                          R"({"path":"/tmp","filters":[)"
                                              + QByteArray(300000, '[').replace("[", "[],")
                                              + "[]]}")
                               << 400 << -1 << false;
    // Headers without end.
    QByteArray many;
    for (int i = 0; i < 150; ++i)
        many += "X-" + QByteArray::number(i) + ": y\r\n";
    QTest::newRow("many headers") << false << request(list, host + many) << 431 << -1 << true;
    QByteArray large;
    for (int i = 0; i < 8; ++i)
        large += "X-" + QByteArray::number(i) + ": " + QByteArray(8000, 'y') + "\r\n";
    QTest::newRow("large headers") << false << request(list, host + large) << 431 << -1 << true;

    // The headset API answers to addresses, as players send them, and nothing else.
    QTest::newRow("lan: address") << true << request("GET /api/info", host) << 200 << 0 << false;
    QTest::newRow("lan: name") << true << request("GET /api/files", "Host: evil.example:{port}\r\n")
                               << 403 << -1 << true;
    // Old renderers send HTTP/1.0 without a Host; a browser always names one.
    QTest::newRow("lan: HTTP/1.0, no host")
        << true << QByteArray("GET /api/info HTTP/1.0\r\n\r\n") << 200 << 0 << true;
    QTest::newRow("lan: HTTP/1.1, no host")
        << true << request("GET /api/info", {}) << 403 << -1 << true;
}

void ServiceInputTest::requestRules()
{
    QFETCH(bool, lan);
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(int, code);
    QFETCH(bool, ends);
    const int port = lan ? m_service.lanPort() : m_service.port();
    request.replace("{port}", QByteArray::number(port));
    const qint64 peakBefore = peakMemoryKb(m_service.process().processId());
    const RawReply reply = exchange(quint16(port), request, ends);
    QCOMPARE(reply.status(), status);
    QCOMPARE(reply.json().value("code").toInt(-999), code);
    QVERIFY(!reply.json().value("msg").isUndefined());
    QVERIFY2(!reply.answer.toLower().contains("access-control-"), reply.answer.constData());
    QCOMPARE(reply.closed, ends);
    if (code != -1)
        return;
    // Refused at once, not after a time-out, and at no cost.
    QVERIFY(!reply.json().value("msg").toString().isEmpty());
    QVERIFY2(reply.elapsedMs >= 0 && reply.elapsedMs < 2000,
             qPrintable(QString::number(reply.elapsedMs)));
    QVERIFY(peakMemoryKb(m_service.process().processId()) - peakBefore < 16 * 1024);
}

void ServiceInputTest::rangesOnlyForBytes_data()
{
    QTest::addColumn<bool>("lan");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("range");
    QTest::addColumn<int>("status");
    const QString cover = QStringLiteral("/covers/%1.jpg").arg(m_videoId);
    QTest::newRow("listing") << false << "/files?id=0" << QByteArray("bytes=0-10") << 200;
    QTest::newRow("error reply") << false << "/files?id=987654" << QByteArray("bytes=100-200")
                                 << 404;
    QTest::newRow("malformed range on a listing")
        << false << "/settings/" << QByteArray("bytes=x-") << 200;
    QTest::newRow("headset listing") << true << "/api/files?id=0" << QByteArray("Bytes=0-3") << 200;
    QTest::newRow("cover") << false << cover << QByteArray("bytes=0-3") << 206;
    QTest::newRow("cover, beyond its end") << true << cover << QByteArray("bytes=99999999-") << 416;
}

void ServiceInputTest::rangesOnlyForBytes()
{
    QFETCH(bool, lan);
    QFETCH(QString, path);
    QFETCH(QByteArray, range);
    QFETCH(int, status);
    const ServiceReply whole = m_service.get(lan ? m_service.lanUrl(path) : path);
    const ServiceReply reply = m_service.send("GET", lan ? m_service.lanUrl(path) : path, {}, 30000,
                                              { { "Range", range } });
    QCOMPARE(reply.status, status);
    if (status == 206) {
        QVERIFY(reply.body == whole.body.left(4));
        QCOMPARE(reply.header("Content-Range"),
                 "bytes 0-3/" + QByteArray::number(whole.body.size()));
    } else if (status == 416) {
        QCOMPARE(reply.header("Content-Range"), "bytes */" + QByteArray::number(whole.body.size()));
        QVERIFY(reply.code() != 0);
    } else {
        // The whole reply, exactly as without the range.
        QVERIFY(!reply.json.isEmpty());
        QCOMPARE(reply.body, whole.body);
        QVERIFY(reply.header("Content-Range").isEmpty());
    }
}

void ServiceInputTest::slowClientsCannotStarveTheAssistant()
{
    // More clients than the interface has threads, each sending its request a byte at a time:
    // every byte would restart a read time-out.
    std::vector<std::unique_ptr<QTcpSocket>> slow;
    for (int i = 0; i < 40; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, quint16(m_service.port()));
        QVERIFY(socket->waitForConnected(3000));
        socket->write("G");
        slow.push_back(std::move(socket));
    }
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, [&slow] {
        for (auto &socket : slow) {
            if (socket->state() == QAbstractSocket::ConnectedState)
                socket->write("E");
        }
    });
    drip.start(500);
    QTest::qWait(300);

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_service.get("/files?id=0", 5000).code(), 0);
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));

    // No request may take longer than its deadline to arrive, crowded or not.
    const auto ended = [&slow] {
        int count = 0;
        for (auto &socket : slow) {
            socket->waitForReadyRead(0);
            if (socket->state() != QAbstractSocket::ConnectedState || socket->bytesAvailable())
                ++count;
        }
        return count;
    };
    QTRY_COMPARE_WITH_TIMEOUT(ended(), 40, 15000);
    // Those cut off to make room may see the connection reset before the reply.
    for (auto &socket : slow) {
        const QByteArray answer = socket->readAll();
        QVERIFY2(answer.isEmpty() || answer.startsWith("HTTP/1.1 408"), answer.constData());
    }
}

void ServiceInputTest::oneClientCannotTakeEveryThread()
{
    // Another loopback address stands for one host on the LAN.
    const QHostAddress greedy(QStringLiteral("127.0.0.3"));
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < 34; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        QVERIFY(socket->bind(greedy));
        socket->connectToHost(QHostAddress::LocalHost, quint16(m_service.lanPort()));
        QVERIFY(socket->waitForConnected(3000));
        sockets.push_back(std::move(socket));
    }
    const auto refused = [&sockets] {
        int count = 0;
        for (auto &socket : sockets) {
            socket->waitForReadyRead(0);
            if (socket->peek(12) == "HTTP/1.1 503")
                ++count;
        }
        return count;
    };
    QTRY_COMPARE_WITH_TIMEOUT(refused(), 2, 3000);
    QTest::qWait(200);
    QCOMPARE(refused(), 2);
    // Everyone else is served.
    QCOMPARE(m_service.get(m_service.lanUrl("/api/info"), 3000).code(), 0);
}

QTEST_MAIN(ServiceInputTest)
#include "tst_service_input.moc"
