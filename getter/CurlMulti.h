#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>

typedef void CURL;
typedef void CURLM;
class QSocketNotifier;

// libcurl's multi interface driven by the Qt event loop: a notifier for each
// socket libcurl watches and one timer for its time-outs. No thread, no
// polling.
//
// After every step libcurl takes, Finished() is called for each transfer it
// has ended and then Stepped(); both run outside libcurl, so they may add,
// remove and start transfers.
class CurlMulti : public QObject
{
    Q_OBJECT

public:
    explicit CurlMulti(QObject *parent = nullptr);
    ~CurlMulti() override;

    CURLM *handle() const { return m_multi; }

    // Starts a transfer; libcurl takes its first step from the event loop.
    bool Add(CURL *easy);
    // Takes a transfer out, running or not; a connection it leaves half-read
    // is closed.
    void Remove(CURL *easy);
    // Takes the step libcurl is due now (a transfer just added starts) without
    // waiting for the event loop. Does nothing when called from Finished() or
    // Stepped(), which run inside a step.
    void StepNow();

    std::function<void(CURL *easy, int curlCode)> Finished;
    std::function<void()> Stepped;

private:
    struct Watch;

    static int OnSocket(CURL *easy, int socket, int what, void *self, void *watch);
    static int OnTimer(CURLM *multi, long timeoutMs, void *self);
    void Act(int socket, int eventMask);
    Watch *WatchFor(int socket);
    void Unwatch(int socket);

    CURLM *m_multi = nullptr;
    QTimer m_timer;
    QHash<int, Watch *> m_watches;
    bool m_acting = false;
};
