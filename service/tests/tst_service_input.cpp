// Hostile and odd input: every malformed request gets a JSON error reply, odd folders are
// imported without hanging or crashing, and the control port is reachable only on loopback.
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

#include <sys/stat.h>
#include <unistd.h>

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
    QVERIFY(m_service.start(m_temp.filePath("data")));
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
        "POST /files HTTP/1.1\r\nContent-Length: 100\r\nConnection: close\r\n\r\n{\"pa")
                                                  << 0;
    // A body on a GET must not be taken for a second request, whose answer would then reach
    // the next request on the connection.
    QTest::newRow("GET with a body")
        << QByteArray("GET /settings/ HTTP/1.1\r\nHost: pc\r\nContent-Length: 34\r\n\r\n"
                      "GET /files?id=0 HTTP/1.1\r\nHost: pc\r\n\r\n")
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

QTEST_MAIN(ServiceInputTest)
#include "tst_service_input.moc"
