#pragma once

#include <QHash>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

class QSslSocket;

// A loopback HTTPS server standing in for the vendor cloud. Each path answers with a fixed
// response, written in one or more pieces (a short pause between them), then the connection
// closes. Every request is recorded.
class CloudResponder : public QTcpServer
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QByteArray contentType;
        QByteArray body;
    };

    CloudResponder(const QSslCertificate &certificate, const QSslKey &key);

    QString baseUrl() const;
    void setResponse(const QByteArray &path, const QList<QByteArray> &pieces);
    const QList<Request> &requests() const { return m_requests; }

    // A complete HTTP/1.1 response; pieces > 1 splits it into that many pieces.
    static QList<QByteArray> response(int status, const QByteArray &body,
                                      const QByteArray &extraHeaders = {}, int pieces = 1);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void onReadyRead(QSslSocket *socket);
    void writePieces(QSslSocket *socket, QList<QByteArray> pieces);

    QSslCertificate m_certificate;
    QSslKey m_key;
    QHash<QByteArray, QList<QByteArray>> m_responses;
    QHash<QSslSocket *, QByteArray> m_buffers;
    QList<Request> m_requests;
};
