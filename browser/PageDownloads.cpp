#include "PageDownloads.h"

#include "BrowserView.h"
#include "PageDownloadFile.h"
#include "core/MessageSeam.h"
#include "core/Shared.h"
#include "getter/engine/Session.h"

#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>

#include <algorithm>

struct PageDownloads::Running
{
    QPointer<QWebEngineDownloadRequest> request;
    std::unique_ptr<PageDownloadFile> file;
    QString address;
};

PageDownloads::PageDownloads(QWebEngineProfile *profile, BrowserView *view, QObject *parent)
    : QObject(parent)
    , m_view(view)
{
    connect(profile, &QWebEngineProfile::downloadRequested, this,
            &PageDownloads::OnDownloadRequested);
}

PageDownloads::~PageDownloads()
{
    for (const std::unique_ptr<Running> &download : m_running) {
        if (download->request) {
            download->request->disconnect(this);
            download->request->cancel();
        }
        download->file->discard();
    }
}

bool PageDownloads::Permitted(QWebEngineDownloadRequest *request)
{
    if (m_view) {
        const qint64 since = m_view->MsSinceUserInput();
        if (m_view->UserInputCount() > m_usedInput && since >= 0 && since <= UserInputWindowMs) {
            m_usedInput = m_view->UserInputCount();
            return true;
        }
    }
    // The site of the page that asks; a download of a page of its own (no
    // page shown) stands for itself.
    QUrl page = m_view ? m_view->page()->url() : QUrl();
    if (page.host().isEmpty())
        page = request->url();
    const QString site = page.host().isEmpty() ? page.scheme() : Session::SiteOf(page.host());
    const auto known = m_answers.constFind(site);
    if (known != m_answers.cend())
        return known.value();
    const int answer = kiro::AskQuestion(MultipleDownloadsQuestion(), QStringLiteral("確認"),
                                         {QStringLiteral("ブロック"), QStringLiteral("許可")});
    // The request may have gone while the question waited.
    const bool allowed = answer == 1;
    if (answer >= 0)
        m_answers.insert(site, allowed);
    return allowed;
}

void PageDownloads::OnDownloadRequested(QWebEngineDownloadRequest *request)
{
    const QPointer<QWebEngineDownloadRequest> asked = request;
    const QString address = request->url().toString();
    if (!Permitted(request)) {
        // Left unaccepted, the engine cancels it: nothing was written.
        Tell(kiro::DownloadBlockedText(address));
        return;
    }
    if (!asked || asked->state() != QWebEngineDownloadRequest::DownloadRequested)
        return;

    auto download = std::make_unique<Running>();
    download->request = request;
    download->address = address;
    download->file = std::make_unique<PageDownloadFile>(kiro::PageDownloadFolder(kiro::FstDir),
                                                        request->suggestedFileName());
    // A request left unaccepted is cancelled by the engine: the user is told.
    if (!download->file->reserve()) {
        Tell(kiro::DownloadFailedText(download->address, download->file->errorString()));
        return;
    }
    request->setDownloadDirectory(download->file->folder());
    request->setDownloadFileName(download->file->reservedName());
    if (request->isSavePageDownload())
        request->setSavePageFormat(QWebEngineDownloadRequest::MimeHtmlSaveFormat);

    Running *running = download.get();
    connect(request, &QWebEngineDownloadRequest::stateChanged, this,
            [this, running] { OnStateChanged(running); });
    connect(request, &QWebEngineDownloadRequest::receivedBytesChanged, this,
            [this, running] { Report(running); });
    connect(request, &QWebEngineDownloadRequest::totalBytesChanged, this,
            [this, running] { Report(running); });
    m_running.push_back(std::move(download));
    request->accept();
    Report(running);
}

void PageDownloads::OnStateChanged(Running *download)
{
    QWebEngineDownloadRequest *request = download->request;
    if (!request)
        return;
    switch (request->state()) {
    case QWebEngineDownloadRequest::DownloadCompleted:
        if (download->file->commit())
            End(download, kiro::DownloadDoneText(download->file->finalPath()));
        else
            End(download, kiro::DownloadFailedText(download->address, download->file->errorString()));
        break;
    case QWebEngineDownloadRequest::DownloadInterrupted: {
        // The engine keeps an interrupted download's data to resume it
        // later; KIRO does not resume, so it is dropped at once.
        const QString reason = request->interruptReasonString();
        End(download, kiro::DownloadFailedText(download->address, reason));
        request->cancel();
        break;
    }
    case QWebEngineDownloadRequest::DownloadCancelled:
        End(download, kiro::DownloadFailedText(download->address,
                                               QStringLiteral("ダウンロードが中止されました")));
        break;
    default:
        Report(download);
        break;
    }
}

void PageDownloads::Report(Running *download)
{
    QWebEngineDownloadRequest *request = download->request;
    if (!request)
        return;
    const qint64 total = request->totalBytes();
    const qint64 received = request->receivedBytes();
    const int percent = total > 0 ? int(std::clamp<qint64>(received * 100 / total, 0, 100)) : -1;
    QString text = kiro::DownloadProgressText(download->file->wantedName(), received, total);
    if (m_running.size() > 1)
        text += QStringLiteral("　ほか %1 件").arg(m_running.size() - 1);
    Q_EMIT ProgressChanged(text, percent);
}

void PageDownloads::End(Running *download, const QString &message)
{
    const auto it = std::find_if(m_running.begin(), m_running.end(),
                                 [download](const auto &entry) { return entry.get() == download; });
    if (it == m_running.end())
        return;
    std::unique_ptr<Running> ended = std::move(*it);
    m_running.erase(it);
    if (ended->request)
        ended->request->disconnect(this);
    // Whatever the download wrote and did not keep goes; a kept file has
    // its own name by now.
    ended->file->discard();

    if (m_running.empty())
        Tell(message);
    else
        Report(m_running.back().get());
}

void PageDownloads::Tell(const QString &message)
{
    // Shown until the next download, in place of its progress.
    Q_EMIT ProgressChanged(message, -2);
}
