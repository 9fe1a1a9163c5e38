#include "CurlMulti.h"

#include <QSocketNotifier>

#include <curl/curl.h>

#include <mutex>

#include <unistd.h>

struct CurlMulti::Watch {
    QSocketNotifier *read = nullptr;
    QSocketNotifier *write = nullptr;
};

namespace {

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A notifier may be the one whose activation is being handled: it is
// switched off at once (nothing more reaches it from the socket) and freed
// from the event loop.
void Retire(QSocketNotifier *notifier)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    notifier->disconnect();
    notifier->deleteLater();
}

} // namespace

CurlMulti::CurlMulti(QObject *parent)
    : QObject(parent)
{
    GlobalInit();
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlMulti::OnSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlMulti::OnTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    // Several requests to one host: streams of one HTTP/2 connection where the
    // server offers it (libcurl's default), else a few HTTP/1.1 connections.
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, MaxHostConnections);
    curl_multi_setopt(m_multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, MaxTotalConnections);

    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
}

CurlMulti::~CurlMulti()
{
    m_timer.stop();
    for (auto it = m_transfers.cbegin(); it != m_transfers.cend(); ++it)
        curl_multi_remove_handle(m_multi, it.key());
    m_transfers.clear();
    m_clients.clear();
    m_socketMakers.clear();
    // Transfers are the owners' to remove; what is left are idle connections,
    // which the clean-up closes (reporting their sockets gone).
    curl_multi_cleanup(m_multi);
    for (Watch *watch : std::as_const(m_watches)) {
        Retire(watch->read);
        Retire(watch->write);
        delete watch;
    }
}

void CurlMulti::Attach(Client *client)
{
    if (!m_clients.contains(client))
        m_clients.append(client);
}

void CurlMulti::Detach(Client *client)
{
    m_clients.removeAll(client);
    for (auto it = m_transfers.begin(); it != m_transfers.end();) {
        if (it.value() == client) {
            curl_multi_remove_handle(m_multi, it.key());
            it = m_transfers.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_socketMakers.begin(); it != m_socketMakers.end();)
        it = it.value() == client ? m_socketMakers.erase(it) : std::next(it);
}

void CurlMulti::Adopt(CURL *easy)
{
    // A connection outlives the transfer that made it, and the transfer's
    // client perhaps too: its closing is routed through here.
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &CurlMulti::OnCloseSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, this);
}

bool CurlMulti::Add(CURL *easy, Client *client)
{
    if (curl_multi_add_handle(m_multi, easy) != CURLM_OK)
        return false;
    m_transfers.insert(easy, client);
    return true;
}

void CurlMulti::Remove(CURL *easy)
{
    if (m_transfers.remove(easy) > 0)
        curl_multi_remove_handle(m_multi, easy);
}

void CurlMulti::NoteSocket(int socket, Client *client)
{
    m_socketMakers.insert(socket, client);
}

int CurlMulti::OnCloseSocket(void *self, int socket)
{
    auto *multi = static_cast<CurlMulti *>(self);
    Client *maker = multi->m_socketMakers.take(socket);
    if (maker)
        maker->ConnectionClosing(false);
    ::close(socket);
    if (maker)
        maker->ConnectionClosing(true);
    return 0;
}

int CurlMulti::OnSocket(CURL *, curl_socket_t socket, int what, void *self, void *)
{
    auto *multi = static_cast<CurlMulti *>(self);
    if (what == CURL_POLL_REMOVE) {
        multi->Unwatch(socket);
        return 0;
    }
    Watch *watch = multi->WatchFor(socket);
    const bool wantRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
    const bool wantWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
    if (wantRead && !watch->read) {
        watch->read = new QSocketNotifier(socket, QSocketNotifier::Read, multi);
        connect(watch->read, &QSocketNotifier::activated, multi,
                [multi, socket] { multi->Act(socket, CURL_CSELECT_IN); });
    }
    if (wantWrite && !watch->write) {
        watch->write = new QSocketNotifier(socket, QSocketNotifier::Write, multi);
        connect(watch->write, &QSocketNotifier::activated, multi,
                [multi, socket] { multi->Act(socket, CURL_CSELECT_OUT); });
    }
    if (watch->read)
        watch->read->setEnabled(wantRead);
    if (watch->write)
        watch->write->setEnabled(wantWrite);
    return 0;
}

int CurlMulti::OnTimer(CURLM *, long timeoutMs, void *self)
{
    auto *multi = static_cast<CurlMulti *>(self);
    if (timeoutMs < 0)
        multi->m_timer.stop();
    else
        multi->m_timer.start(int(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

CurlMulti::Watch *CurlMulti::WatchFor(int socket)
{
    Watch *&watch = m_watches[socket];
    if (!watch)
        watch = new Watch;
    return watch;
}

void CurlMulti::Unwatch(int socket)
{
    Watch *watch = m_watches.take(socket);
    if (!watch)
        return;
    Retire(watch->read);
    Retire(watch->write);
    delete watch;
}

void CurlMulti::Act(int socket, int eventMask)
{
    int running = 0;
    curl_multi_socket_action(m_multi, socket, eventMask, &running);

    CURLMsg *message = nullptr;
    int left = 0;
    while ((message = curl_multi_info_read(m_multi, &left))) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL *easy = message->easy_handle;
        const int code = int(message->data.result);
        // Done with libcurl: the client may start its next request.
        Client *client = m_transfers.take(easy);
        if (client) {
            curl_multi_remove_handle(m_multi, easy);
            client->TransferFinished(easy, code);
        }
    }
    // A client told of the step may detach others (or itself).
    const QList<Client *> clients = m_clients;
    for (Client *client : clients) {
        if (m_clients.contains(client))
            client->Stepped();
    }
}
