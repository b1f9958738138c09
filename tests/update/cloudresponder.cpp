#include "cloudresponder.h"

#include <QPointer>
#include <QSslSocket>
#include <QTimer>

CloudResponder::CloudResponder(const QSslCertificate &certificate, const QSslKey &key)
    : m_certificate(certificate)
    , m_key(key)
{
    listen(QHostAddress::LocalHost);
}

QString CloudResponder::baseUrl() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(serverPort());
}

void CloudResponder::setResponse(const QByteArray &path, const QList<QByteArray> &pieces)
{
    m_responses.insert(path, pieces);
}

QList<QByteArray> CloudResponder::response(int status, const QByteArray &body,
                                           const QByteArray &extraHeaders, int pieces)
{
    QByteArray whole = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n"
        + "Content-Length: " + QByteArray::number(body.size()) + "\r\n" + "Connection: close\r\n"
        + extraHeaders + "\r\n";
    const int bodyStart = whole.size();
    whole += body;
    if (pieces <= 1)
        return { whole };
    // The first piece holds the head and the start of the body.
    QList<QByteArray> result;
    const int step = qMax(1, body.size() / pieces);
    int at = bodyStart + step;
    result << whole.left(at);
    while (at < whole.size()) {
        result << whole.mid(at, step);
        at += step;
    }
    return result;
}

void CloudResponder::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    connect(socket, &QSslSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    connect(socket, &QSslSocket::disconnected, this, [this, socket] {
        m_buffers.remove(socket);
        socket->deleteLater();
    });
    socket->startServerEncryption();
}

void CloudResponder::onReadyRead(QSslSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    const int headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    Request request;
    int contentLength = 0;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    for (const QByteArray &line : lines.mid(1)) {
        const int colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length")
            contentLength = value.toInt();
        else if (name == "content-type")
            request.contentType = value;
    }
    if (buffer.size() < headEnd + 4 + contentLength)
        return;
    request.body = buffer.mid(headEnd + 4, contentLength);
    buffer.clear();
    m_requests << request;
    writePieces(socket, m_responses.value(request.path, response(404, "not here")));
}

void CloudResponder::writePieces(QSslSocket *socket, QList<QByteArray> pieces)
{
    if (pieces.isEmpty()) {
        socket->disconnectFromHost();
        return;
    }
    socket->write(pieces.takeFirst());
    socket->flush();
    QPointer<QSslSocket> guard(socket);
    QTimer::singleShot(pieces.isEmpty() ? 0 : 150, this, [this, guard, pieces] {
        if (guard)
            writePieces(guard, pieces);
    });
}
