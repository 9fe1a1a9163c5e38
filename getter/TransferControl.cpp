#include "TransferControl.h"

#include "Inet.h"
#include "PageText.h"
#include "PartFile.h"

#include "core/EventPump.h"
#include "core/Shared.h"

#include <QElapsedTimer>

namespace {

const QString CompletedText = QStringLiteral("要求処理が完了し，すべてのデータが受信されました．");

QString StatusTextOf(int state)
{
    switch (state) {
    case 0: return QString();
    case 1: return QStringLiteral("ホストのIPアドレスを調べています．");
    case 2: return QStringLiteral("ホストのIPアドレスを見つけました．");
    case 3: return QStringLiteral("ホストとの接続処理を行っています．");
    case 4: return QStringLiteral("ホストと正常に接続しました．");
    case 5: return QStringLiteral("ホストに要求を送信しています．");
    case 6: return QStringLiteral("正常に送信しました．");
    case 7: return QStringLiteral("ホストからの応答を受信しています．");
    case 8: return QStringLiteral("ホストからの応答を正常に受信しました．");
    case 9: return QStringLiteral("ホストとの接続を解除しています．");
    case 10: return QStringLiteral("ホストとの接続を正常に解除しました．");
    default: return QString();
    }
}

// The kilobyte label is for the eye; refreshing it more often only costs.
constexpr qint64 LabelRefreshMs = 50;

} // namespace

struct TransferControl::Private {
    Private(GetterVars &v, GetterSink &s)
        : vars(v)
        , sink(s)
    {
    }

    GetterVars &vars;
    GetterSink &sink;
    Inet inet;
    QElapsedTimer sinceLabel;
    qint64 shownKB = -1;
    bool lastFailed = false;
    bool waiting = false;
    bool cancelledInWait = false;

    void ShowKB(qint64 bytes, bool always)
    {
        const qint64 kb = bytes / 1024;
        if (kb == shownKB && !always)
            return;
        if (!always && sinceLabel.isValid() && sinceLabel.elapsed() < LabelRefreshMs)
            return;
        shownKB = kb;
        sinceLabel.start();
        sink.SetLabel(GetterSink::Label::KB, QString::number(kb));
    }
};

TransferControl::TransferControl(GetterVars &vars, GetterSink &sink, QObject *parent)
    : QObject(parent)
    , d(new Private(vars, sink))
{
    d->inet.SetAbortCheck([] { return kiro::AbortFlag == 1; });
    connect(&d->inet, &Inet::StateChanged, this, &TransferControl::Inet_StateChanged);
    connect(&d->inet, &Inet::BodyProgress, this, [this](qint64 bytes) {
        if (d->vars.TransferMode != TransferMode::File)
            return;
        d->vars.ReceivedBytes = bytes;
        d->ShowKB(bytes, bytes == 0);
    });
}

TransferControl::~TransferControl()
{
    delete d;
}

TransferControl::WaitResult TransferControl::Fetch(const QString &url, TransferMode mode,
                                                   const QString &referer)
{
    return Run(url, mode, referer, false, {});
}

TransferControl::WaitResult TransferControl::FetchFileToHandOver(const QString &url,
                                                                 const QString &referer,
                                                                 const std::function<void()> &whileSent)
{
    return Run(url, TransferMode::File, referer, true, whileSent);
}

std::unique_ptr<PartFile> TransferControl::TakeFinishedFile()
{
    return d->inet.TakeFinishedFile();
}

TransferControl::WaitResult TransferControl::Run(const QString &url, TransferMode mode,
                                                 const QString &referer, bool handOver,
                                                 const std::function<void()> &whileSent)
{
    GetterVars &vars = d->vars;
    if (d->waiting) {
        // Requests never overlap; one started from inside another's wait is refused.
        qWarning("TransferControl::Fetch: a request is already running; %s not fetched",
                 qPrintable(url));
        d->lastFailed = true;
        return WaitResult::Done;
    }

    vars.TransferDone = 0;
    vars.TransferMode = mode;
    if (mode == TransferMode::PageText)
        vars.HtmlText.clear();
    else if (mode == TransferMode::SubPageText)
        vars.SubHtmlText.clear();
    else if (mode == TransferMode::File)
        vars.ReceivedBytes = 0;
    d->lastFailed = false;
    d->cancelledInWait = false;

    bool done = false;
    if (kiro::AbortFlag != 1) {
        if (mode == TransferMode::File)
            d->inet.SetSaveFile(vars.SavePath, handOver ? Inet::FileEnd::HandOver : Inet::FileEnd::InPlace);
        d->inet.SetReferer(referer);
        // Every request of a search or a download is made from the searched page.
        d->inet.SetCookieSite(vars.BaseURL);
        d->inet.Execute(url, QStringLiteral("GET"));
        d->waiting = true;
        if (whileSent) {
            d->inet.SendNow();
            whileSent();
        }
        done = kiro::WaitFor([this] { return d->vars.TransferDone != 0 || d->cancelledInWait; });
        d->waiting = false;
    }
    if (done && !d->cancelledInWait)
        return WaitResult::Done;

    d->sink.SetStatusText(kiro::AbortedText);
    d->inet.Cancel();
    if (mode == TransferMode::File && vars.TransferDone == 0)
        vars.ReceivedBytes = 0;
    return WaitResult::Aborted;
}

bool TransferControl::LastFailed() const
{
    return d->lastFailed;
}

void TransferControl::SetSession(Session *session)
{
    d->inet.SetSession(session);
}

void TransferControl::Cancel()
{
    d->inet.Cancel();
    if (d->waiting)
        d->cancelledInWait = true;
}

void TransferControl::Inet_StateChanged(int state)
{
    GetterVars &vars = d->vars;
    if (state >= 0 && state <= 10) {
        d->sink.SetStatusText(StatusTextOf(state));
        return;
    }
    if (state == 11) {
        d->sink.SetStatusText(kiro::TransferErrorText);
        // Nothing of a failed request remains, so it has written nothing.
        if (vars.TransferMode == TransferMode::File)
            vars.ReceivedBytes = 0;
        d->lastFailed = true;
        vars.TransferDone = 1;
        return;
    }
    if (state != 12)
        return;

    switch (vars.TransferMode) {
    case TransferMode::PageText:
        vars.HtmlText = kiro::DecodePageText(d->inet.TakeBody(), d->inet.ContentType());
        break;
    case TransferMode::SubPageText:
        vars.SubHtmlText = kiro::DecodePageText(d->inet.TakeBody(), d->inet.ContentType());
        break;
    case TransferMode::File:
        // The whole body is at SavePath, or complete and waiting for the
        // caller to put it there.
        vars.ReceivedBytes = d->inet.BytesReceived();
        d->ShowKB(vars.ReceivedBytes, true);
        break;
    case TransferMode::None:
        break;
    }
    d->lastFailed = false;
    vars.TransferDone = 1;
    d->sink.SetStatusText(CompletedText);
}

Inet &TransferControl::inet()
{
    return d->inet;
}
