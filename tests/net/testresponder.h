#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

struct RecordedRequest
{
    QByteArray method;
    QByteArray target;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

// A loopback HTTP/1.1 peer that records each request and answers it with one fixed reply,
// over TLS when given a certificate. It can also accept and never answer.
class TestResponder : public QTcpServer
{
    Q_OBJECT

public:
    explicit TestResponder(QObject *parent = nullptr);

    void useTls(const QSslCertificate &certificate, const QSslKey &key);
    void setReply(const QByteArray &body, int status = 200);
    void setSilent(bool silent);
    // Closes each connection once its request is read, without a word, as a peer that dies does.
    void setHangUp(bool hangUp);
    // Answers each request that long after it has arrived.
    void setReplyDelay(int milliseconds);

    // "http://127.0.0.1:<port>" or "https://…", without a trailing slash.
    QString baseUrl() const;
    QList<RecordedRequest> requests() const;
    void clearRequests();

signals:
    void requestReceived();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void readRequest(QTcpSocket *socket);

    QSslCertificate m_certificate;
    QSslKey m_key;
    QByteArray m_body;
    int m_status = 200;
    bool m_silent = false;
    bool m_hangUp = false;
    int m_delay = 0;
    QList<RecordedRequest> m_requests;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

// Loads a PEM file from the test data folder.
QByteArray testData(const QString &name);
