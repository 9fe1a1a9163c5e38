#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTcpSocket;
class PartFile;

// The getter's transfer component: one HTTP or HTTPS GET at a time, reported
// through StateChanged with the numbers below. Every request that is not
// cancelled ends with exactly one StateError or StateCompleted; a cancelled
// one reports nothing more.
//
// A request's body goes either into memory (TakeBody() after StateCompleted;
// at most 64 MiB, a larger one is an error) or, when SetSaveFile() named a
// path before Execute(), straight to disk as it arrives: into a temporary file
// in the path's folder that takes the path's name only once the body is
// complete and intact. After an error or a cancel nothing of it remains on
// disk.
//
// Plain http with no proxy in the way goes over connections of our own
// (kept open between requests to the same host); everything else, and an
// http address that redirects to https, goes through QNetworkAccessManager.
class Inet : public QObject
{
    Q_OBJECT

public:
    // Only the states this component can observe are ever raised: looking up
    // the host is never reported; through QNetworkAccessManager, sending the
    // request and disconnecting are not reported either.
    enum State {
        StateConnecting = 3,        // a socket starts connecting
        StateConnected = 4,         // connected (through Qt: the TLS handshake is done, HTTPS only)
        StateSendingRequest = 5,    // own connections only
        StateRequestSent = 6,
        StateReceivingResponse = 7, // the final response's headers arrived
        StateResponseReceived = 8,  // the whole response arrived
        StateClosing = 9,           // own connections only: we close one the server will not reuse
        StateClosed = 10,
        StateError = 11,
        StateCompleted = 12,        // the body is complete (and the file in place)
    };

    explicit Inet(QObject *parent = nullptr);
    ~Inet() override;

    // Starts a request and returns at once; a request still running is
    // cancelled first. Only "GET" of an http or https address is done; any
    // other request ends with StateError, raised from the event loop.
    void Execute(const QString &url, const QString &operation);

    // Ends the running request, if any, and throws away what it received.
    void Cancel();

    bool StillExecuting() const { return m_busy; }

    // The body of the next Execute() goes to this file instead of memory.
    void SetSaveFile(const QString &path);

    // Asked after every piece of body read; when it holds, the request is
    // cancelled at once.
    void SetAbortCheck(std::function<bool()> check) { m_abortCheck = std::move(check); }

    // A request that receives nothing for this long ends with StateError.
    void setStallTimeout(int ms) { m_stallTimeoutMs = ms; }
    int stallTimeout() const { return m_stallTimeoutMs; }

    // Body bytes received by the current or last request.
    qint64 BytesReceived() const { return m_received; }
    // The in-memory body of the last completed request; empties it.
    QByteArray TakeBody();
    // The final response's Content-Type header, "" when none came.
    QByteArray ContentType() const { return m_contentType; }
    // Why the last request failed, for logs and tests.
    QString ErrorString() const { return m_errorString; }

Q_SIGNALS:
    void StateChanged(int state);
    // After each batch of body read: the bytes received so far (0 when the
    // body starts).
    void BodyProgress(qint64 bytesReceived);

private:
    void OnMetaDataChanged();
    void OnReadyRead();
    void OnFinished();
    void OnStalled();

    bool StartBody();
    bool OpenBody();
    bool FinishBody();
    bool ReadAvailable();
    bool Keep(const char *data, qint64 size);

    static bool UsesOwnConnection(const QUrl &address);
    void StartThroughQt(const QUrl &address, int redirectsLeft);
    void StartOwn(const QUrl &address);
    void SendRequest();
    void OnSocketReadyRead();
    void OnSocketClosed();
    bool Consume(const char *data, qint64 size);
    bool ParseHead();
    void CompleteOwn();
    void FollowRedirect();
    bool DecodeText();
    void ResetResponse();
    QTcpSocket *TakeIdle(const QString &origin);
    void KeepIdle(const QString &origin, QTcpSocket *socket);
    void DropSocket(QTcpSocket *socket);
    enum class ReplyEnd { Abort, Drain };

    void Raise(int state);
    void Fail(const QString &reason, ReplyEnd end = ReplyEnd::Abort);
    void FailLater(const QString &reason);
    void Release(ReplyEnd end = ReplyEnd::Abort);
    static void Drain(QNetworkReply *reply);
    bool IsAlive(quint64 serial) const;

    QNetworkAccessManager *m_manager = nullptr;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<PartFile> m_file;
    QTimer m_stallTimer;
    QElapsedTimer m_activity;   // since the request last showed a sign of life
    std::function<bool()> m_abortCheck;

    QString m_nextSaveFile;
    QString m_saveFile;
    QByteArray m_body;
    QByteArray m_readBuffer;
    QByteArray m_contentType;
    QString m_errorString;
    qint64 m_received = 0;
    qint64 m_announcedLength = -1;   // Content-Length of the final response, -1 when none
    quint64 m_serial = 0;       // tells a request's late callbacks from the next one's
    int m_lastState = -1;
    int m_stallTimeoutMs = 60000;
    bool m_busy = false;
    bool m_bodyStarted = false;
    bool m_toFile = false;
    bool m_nextToFile = false;

    // Our own connection and the response being read from it.
    enum class Phase { Head, Length, ChunkSize, ChunkData, ChunkEnd, Trailer, UntilClose, Done };
    QPointer<QTcpSocket> m_socket;
    QHash<QString, QTcpSocket *> m_idle;   // one connection kept per host:port
    QUrl m_address;
    QString m_origin;
    QSet<QUrl> m_visited;
    QUrl m_redirectTarget;
    QByteArray m_head;
    QByteArray m_line;
    QByteArray m_contentEncoding;
    Phase m_phase = Phase::Head;
    qint64 m_left = 0;          // bytes left of the body or of the current chunk
    qint64 m_discarded = 0;
    int m_redirects = 0;
    bool m_reused = false;      // the connection served an earlier request
    bool m_retried = false;
    bool m_heardBack = false;   // a byte of the response arrived
    bool m_sent = false;
    bool m_keepConnection = false;
    bool m_discard = false;     // a redirect's body, read only to keep the connection
};
