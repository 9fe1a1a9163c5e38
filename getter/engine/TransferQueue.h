#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class CurlMulti;
class Inet;
class PartFile;
class Session;

namespace kiro {

// The status-bar text of a transfer state (Inet's numbers), "" for none.
QString TransferStatusText(int state);

} // namespace kiro

// The getter's transfers: requests queued in order and run several at once
// on one libcurl multi handle, so that the files of one host share its
// connections (HTTP/2 streams where the server offers them). At most Limit()
// run at once; a host that answered 429 or 503 with Retry-After gets no new
// request until the wait it asked for is over. Every request queued ends with
// exactly one Finished(), unless it is cancelled first.
class TransferQueue : public QObject
{
    Q_OBJECT

public:
    using Id = int;

    struct Request {
        QString url;
        QString referer;          // the page the request is made from, or none
        QString cookieSite;       // the searched page (Inet::SetCookieSite)
        QString savePath;         // empty: the body into memory
        qint64 skipAtOrBelow = -1; // with savePath: Inet::SetSkipAtOrBelow
        bool handOver = false;     // with savePath: the complete file comes unnamed in the result
    };

    struct Result {
        enum Outcome { Completed, SkippedAtHead, Failed };
        Outcome outcome = Failed;
        qint64 bytes = 0;          // body bytes kept (in the file, when there is one)
        QByteArray body;           // the body kept in memory
        QByteArray contentType;
        QString error;
        std::shared_ptr<PartFile> file;   // handOver: the complete file, to put in place
    };

    static constexpr int MaxLimit = 8;

    explicit TransferQueue(QObject *parent = nullptr);
    ~TransferQueue() override;

    void SetLimit(int transfersAtOnce);
    int Limit() const { return m_limit; }
    // The cookies and User-Agent of every request; not owned.
    void SetSession(Session *session);
    // Asked after every piece of body read; when it holds, every transfer is
    // cancelled.
    void SetAbortCheck(std::function<bool()> check);
    void setRetryWait(int ms);
    void setStallTimeout(int ms);

    Id Enqueue(const Request &request);
    // Ends a request, queued or running, and forgets it.
    void Cancel(Id id);
    void CancelAll();
    // Requests queued or running.
    int Pending() const { return int(m_waiting.size()) + m_running; }

Q_SIGNALS:
    void StateChanged(int id, int state);
    void Progress(int id, qint64 bytes);
    void Finished(int id, const TransferQueue::Result &result);

private:
    struct Slot;
    struct Waiting {
        Id id;
        Request request;
        QString host;
    };

    void StartWaiting();
    void Start(Slot &slot, Waiting waiting);
    void OnState(Slot &slot, int state);
    void PauseHost(const QString &host, qint64 ms);
    bool HostPaused(const QString &host);

    CurlMulti *m_multi;   // a child: its sockets' notifiers are the queue's too
    std::vector<std::unique_ptr<Slot>> m_slots;
    QList<Waiting> m_waiting;
    QHash<QString, QDeadlineTimer> m_pausedHosts;
    QTimer m_resume;
    Session *m_session = nullptr;
    std::function<bool()> m_abortCheck;
    int m_retryWaitMs = -1;
    int m_stallMs = -1;
    int m_limit = 4;
    int m_running = 0;
    Id m_nextId = 1;
    bool m_starting = false;
};
