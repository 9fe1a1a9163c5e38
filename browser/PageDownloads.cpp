#include "PageDownloads.h"

#include "PageDownloadFile.h"
#include "core/MessageSeam.h"
#include "core/Shared.h"

#include <QTimer>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>

#include <algorithm>

struct PageDownloads::Running
{
    QPointer<QWebEngineDownloadRequest> request;
    std::unique_ptr<PageDownloadFile> file;
    QString address;
};

PageDownloads::PageDownloads(QWebEngineProfile *profile, QObject *parent)
    : QObject(parent)
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

void PageDownloads::OnDownloadRequested(QWebEngineDownloadRequest *request)
{
    auto download = std::make_unique<Running>();
    download->request = request;
    download->address = request->url().toString();
    download->file = std::make_unique<PageDownloadFile>(kiro::FstDir, request->suggestedFileName());
    // A request left unaccepted is cancelled by the engine: the user is told.
    if (!download->file->reserve()) {
        ShowLater(kiro::DownloadFailedText(download->address, download->file->errorString()));
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
    ShowLater(message);

    if (m_running.empty())
        Q_EMIT ProgressChanged(QString(), -1);
    else
        Report(m_running.back().get());
}

void PageDownloads::ShowLater(const QString &message)
{
    // The engine's signal returns first; the message box then waits in an
    // event loop of its own.
    QTimer::singleShot(0, this, [message] { kiro::ShowMessage(message); });
}
