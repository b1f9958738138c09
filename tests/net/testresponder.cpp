#include "testresponder.h"

#include <QFile>
#include <QSslSocket>
#include <QTimer>

TestResponder::TestResponder(QObject *parent)
    : QTcpServer(parent)
{
    listen(QHostAddress::LocalHost);
}

void TestResponder::useTls(const QSslCertificate &certificate, const QSslKey &key)
{
    m_certificate = certificate;
    m_key = key;
}

void TestResponder::setReply(const QByteArray &body, int status)
{
    m_body = body;
    m_status = status;
}

void TestResponder::setSilent(bool silent)
{
    m_silent = silent;
}

void TestResponder::setHangUp(bool hangUp)
{
    m_hangUp = hangUp;
}

void TestResponder::setReplyDelay(int milliseconds)
{
    m_delay = milliseconds;
}

QString TestResponder::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_certificate.isNull() ? QStringLiteral("http") : QStringLiteral("https"))
        .arg(serverPort());
}

QList<RecordedRequest> TestResponder::requests() const
{
    return m_requests;
}

void TestResponder::clearRequests()
{
    m_requests.clear();
}

void TestResponder::incomingConnection(qintptr socketDescriptor)
{
    QTcpSocket *socket = nullptr;
    if (m_certificate.isNull()) {
        socket = new QTcpSocket(this);
        socket->setSocketDescriptor(socketDescriptor);
    } else {
        auto *ssl = new QSslSocket(this);
        ssl->setSocketDescriptor(socketDescriptor);
        ssl->setLocalCertificate(m_certificate);
        ssl->setPrivateKey(m_key);
        ssl->startServerEncryption();
        socket = ssl;
    }
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        m_buffers.remove(socket);
        socket->deleteLater();
    });
}

void TestResponder::readRequest(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    const int headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;

    RecordedRequest request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                   lines[i].mid(colon + 1).trimmed());
    }
    const int length = request.headers.value("content-length").toInt();
    if (buffer.size() < headerEnd + 4 + length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    buffer.clear();
    m_requests.append(request);
    emit requestReceived();

    if (m_silent)
        return;
    if (m_hangUp) {
        socket->disconnectFromHost();
        return;
    }
    const QByteArray head = "HTTP/1.1 " + QByteArray::number(m_status)
        + " Reply\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n";
    const auto answer = [socket, reply = head + m_body] {
        socket->write(reply);
        socket->disconnectFromHost();
    };
    if (m_delay > 0)
        QTimer::singleShot(m_delay, socket, answer);
    else
        answer();
}

QByteArray testData(const QString &name)
{
    QFile file(QStringLiteral(VELNOR_NET_TEST_DATA "/") + name);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}
