#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>

typedef void CURL;
typedef void CURLM;
class QSocketNotifier;

// libcurl's multi interface driven by the Qt event loop: a notifier for each
// socket libcurl watches and one timer for its time-outs. No thread, no
// polling. Any number of transfers share it, and with it libcurl's kept
// connections: HTTP/2 streams of one host go on one connection, HTTP/1.1
// requests on at most MaxHostConnections connections per host.
//
// Each transfer belongs to a Client. After every step libcurl takes, each
// client whose transfer ended hears of it, then every attached client is
// told of the step; both run outside libcurl, so they may add, remove and
// start transfers.
class CurlMulti : public QObject
{
    Q_OBJECT

public:
    static constexpr long MaxHostConnections = 4;
    static constexpr long MaxTotalConnections = 16;

    class Client
    {
    public:
        virtual ~Client() = default;
        virtual void TransferFinished(CURL *easy, int curlCode) = 0;
        virtual void Stepped() = 0;
        // A connection this client made is being closed (before), or is
        // closed (after); it may carry another client's request by then.
        virtual void ConnectionClosing(bool closed) = 0;
    };

    explicit CurlMulti(QObject *parent = nullptr);
    ~CurlMulti() override;

    CURLM *handle() const { return m_multi; }

    // A client hears of steps from Attach() to Detach(); a detached client
    // is never called again, not even for the connections it made.
    void Attach(Client *client);
    void Detach(Client *client);

    // Prepares a transfer for this multi handle (the callbacks that must
    // outlive the transfer's client); once per easy handle.
    void Adopt(CURL *easy);
    // Starts a transfer; libcurl takes its first step from the event loop.
    bool Add(CURL *easy, Client *client);
    // Takes a transfer out, running or not; a connection it leaves half-read
    // is closed.
    void Remove(CURL *easy);
    // Notes that the client's transfer made this socket.
    void NoteSocket(int socket, Client *client);

private:
    struct Watch;

    static int OnSocket(CURL *easy, int socket, int what, void *self, void *watch);
    static int OnTimer(CURLM *multi, long timeoutMs, void *self);
    static int OnCloseSocket(void *self, int socket);
    void Act(int socket, int eventMask);
    Watch *WatchFor(int socket);
    void Unwatch(int socket);

    CURLM *m_multi = nullptr;
    QTimer m_timer;
    QHash<int, Watch *> m_watches;
    QHash<CURL *, Client *> m_transfers;
    QHash<int, Client *> m_socketMakers;
    QList<Client *> m_clients;
};
