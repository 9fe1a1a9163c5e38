#include "TransferQueue.h"

#include "CurlMulti.h"
#include "Inet.h"
#include "PartFile.h"

#include <QScopedValueRollback>
#include <QUrl>

namespace kiro {

QString TransferStatusText(int state)
{
    switch (state) {
    case Inet::StateResolving: return QStringLiteral("ホストのIPアドレスを調べています．");
    case Inet::StateResolved: return QStringLiteral("ホストのIPアドレスを見つけました．");
    case Inet::StateConnecting: return QStringLiteral("ホストとの接続処理を行っています．");
    case Inet::StateConnected: return QStringLiteral("ホストと正常に接続しました．");
    case Inet::StateSendingRequest: return QStringLiteral("ホストに要求を送信しています．");
    case Inet::StateRequestSent: return QStringLiteral("正常に送信しました．");
    case Inet::StateReceivingResponse: return QStringLiteral("ホストからの応答を受信しています．");
    case Inet::StateResponseReceived: return QStringLiteral("ホストからの応答を正常に受信しました．");
    case Inet::StateClosing: return QStringLiteral("ホストとの接続を解除しています．");
    case Inet::StateClosed: return QStringLiteral("ホストとの接続を正常に解除しました．");
    case Inet::StateError: return QStringLiteral("通信中にエラーが発生しました．");
    case Inet::StateCompleted: return QStringLiteral("要求処理が完了し，すべてのデータが受信されました．");
    default: return QString();
    }
}

} // namespace kiro

struct TransferQueue::Slot {
    std::unique_ptr<Inet> inet;
    Id id = 0;   // 0: free
};

TransferQueue::TransferQueue(QObject *parent)
    : QObject(parent)
    , m_multi(new CurlMulti(this))
{
    m_resume.setSingleShot(true);
    m_resume.setTimerType(Qt::PreciseTimer);
    connect(&m_resume, &QTimer::timeout, this, [this] { StartWaiting(); });
}

TransferQueue::~TransferQueue()
{
    // The transfers go before the multi handle they run on.
    m_waiting.clear();
    m_slots.clear();
    delete m_multi;
}

void TransferQueue::SetLimit(int transfersAtOnce)
{
    m_limit = std::clamp(transfersAtOnce, 1, MaxLimit);
    StartWaiting();
}

void TransferQueue::SetSession(Session *session)
{
    m_session = session;
    for (const auto &slot : m_slots)
        slot->inet->SetSession(session);
}

void TransferQueue::SetAbortCheck(std::function<bool()> check)
{
    m_abortCheck = std::move(check);
    for (const auto &slot : m_slots)
        slot->inet->SetAbortCheck(m_abortCheck);
}

void TransferQueue::setRetryWait(int ms)
{
    m_retryWaitMs = ms;
    for (const auto &slot : m_slots)
        slot->inet->setRetryWait(ms);
}

void TransferQueue::setStallTimeout(int ms)
{
    m_stallMs = ms;
    for (const auto &slot : m_slots)
        slot->inet->setStallTimeout(ms);
}

TransferQueue::Id TransferQueue::Enqueue(const Request &request)
{
    const Id id = m_nextId++;
    m_waiting.append({id, request, QUrl(request.url.trimmed(), QUrl::TolerantMode).host()});
    StartWaiting();
    return id;
}

void TransferQueue::Cancel(Id id)
{
    for (qsizetype i = 0; i < m_waiting.size(); ++i) {
        if (m_waiting.at(i).id == id) {
            m_waiting.removeAt(i);
            return;
        }
    }
    for (const auto &slot : m_slots) {
        if (slot->id == id) {
            slot->inet->Cancel();
            slot->id = 0;
            --m_running;
            StartWaiting();
            return;
        }
    }
}

void TransferQueue::CancelAll()
{
    m_waiting.clear();
    for (const auto &slot : m_slots) {
        if (slot->id != 0) {
            slot->inet->Cancel();
            slot->id = 0;
        }
    }
    m_running = 0;
}

bool TransferQueue::HostPaused(const QString &host)
{
    const auto it = m_pausedHosts.find(host);
    if (it == m_pausedHosts.end())
        return false;
    if (it->hasExpired()) {
        m_pausedHosts.erase(it);
        return false;
    }
    return true;
}

void TransferQueue::PauseHost(const QString &host, qint64 ms)
{
    QDeadlineTimer &until = m_pausedHosts[host];
    const QDeadlineTimer asked(ms);
    if (until.isForever() || until.deadline() < asked.deadline())
        until = asked;
    // The requests held back go when the pause is over; StartWaiting() sets
    // the timer again for a host still paused then.
    StartWaiting();
}

void TransferQueue::StartWaiting()
{
    // Handlers of what a start raises may end up here again.
    if (m_starting)
        return;
    const QScopedValueRollback<bool> starting(m_starting, true);
    qsizetype i = 0;
    qint64 resumeInMs = -1;
    while (m_running < m_limit && i < m_waiting.size()) {
        if (HostPaused(m_waiting.at(i).host)) {
            const qint64 left = m_pausedHosts.value(m_waiting.at(i).host).remainingTime();
            if (resumeInMs < 0 || left < resumeInMs)
                resumeInMs = left;
            ++i;
            continue;
        }
        Slot *free = nullptr;
        for (const auto &slot : m_slots) {
            if (slot->id == 0) {
                free = slot.get();
                break;
            }
        }
        if (!free) {
            auto slot = std::make_unique<Slot>();
            slot->inet = std::make_unique<Inet>(*m_multi);
            Slot *made = slot.get();
            Inet *inet = slot->inet.get();
            inet->SetSession(m_session);
            if (m_abortCheck)
                inet->SetAbortCheck(m_abortCheck);
            if (m_retryWaitMs >= 0)
                inet->setRetryWait(m_retryWaitMs);
            if (m_stallMs >= 0)
                inet->setStallTimeout(m_stallMs);
            connect(inet, &Inet::StateChanged, this, [this, made](int state) { OnState(*made, state); });
            connect(inet, &Inet::BodyProgress, this, [this, made](qint64 bytes) {
                if (made->id != 0)
                    Q_EMIT Progress(made->id, bytes);
            });
            connect(inet, &Inet::ServerAskedToWait, this, &TransferQueue::PauseHost);
            m_slots.push_back(std::move(slot));
            free = made;
        }
        Start(*free, m_waiting.takeAt(i));
    }
    if (resumeInMs >= 0)
        m_resume.start(int(std::min<qint64>(resumeInMs + 1, 24LL * 3600 * 1000)));
}

void TransferQueue::Start(Slot &slot, Waiting waiting)
{
    slot.id = waiting.id;
    ++m_running;
    Inet &inet = *slot.inet;
    const Request &r = waiting.request;
    if (!r.savePath.isEmpty()) {
        inet.SetSaveFile(r.savePath, r.handOver ? Inet::FileEnd::HandOver : Inet::FileEnd::InPlace);
        inet.SetSkipAtOrBelow(r.skipAtOrBelow);
    }
    inet.SetReferer(r.referer);
    inet.SetCookieSite(r.cookieSite);
    inet.Execute(r.url, QStringLiteral("GET"));
}

void TransferQueue::OnState(Slot &slot, int state)
{
    const Id id = slot.id;
    if (id == 0)
        return;
    Q_EMIT StateChanged(id, state);
    if (slot.id != id || (state != Inet::StateError && state != Inet::StateCompleted))
        return;

    Result result;
    Inet &inet = *slot.inet;
    if (state == Inet::StateError) {
        result.outcome = Result::Failed;
        result.error = inet.ErrorString();
    } else {
        result.outcome = inet.SkippedAtHead() ? Result::SkippedAtHead : Result::Completed;
        result.bytes = inet.BytesReceived();
        result.body = inet.TakeBody();
        result.contentType = inet.ContentType();
        result.file = inet.TakeFinishedFile();
    }
    slot.id = 0;
    --m_running;
    Q_EMIT Finished(id, result);
    StartWaiting();
}
