#include "FileDownloader.h"

#include "DownloadNaming.h"
#include "GetterSink.h"
#include "GetterVars.h"
#include "PartFile.h"
#include "TransferControl.h"

#include "core/EventPump.h"
#include "core/Shared.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString AlreadyThereText = QStringLiteral("既に登録あり");
const QString AtOrBelowSizeText = QStringLiteral("指定容量以下");
const QString FailedText = QStringLiteral("ダウンロード失敗");

// A regular file of exactly this name is there already. Where the file
// system ignores letter case, "C.JPG" does not count for "c.jpg".
bool IsAlreadyThere(const QString &path, const QString &name)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return QFileInfo(info.canonicalFilePath()).fileName() == name;
#else
    Q_UNUSED(name);
    return true;
#endif
}

// Whether two paths may name one file; where letter case may not count,
// "A.jpg" and "a.jpg" may.
bool MayBeSameFile(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool IsDirectlyInside(const QString &path, const QString &folder)
{
    return QDir::cleanPath(QFileInfo(path).absolutePath())
           == QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

} // namespace

FileDownloader::FileDownloader(GetterVars &vars, GetterSink &sink, TransferControl &transfer)
    : m_vars(vars)
    , m_sink(sink)
    , m_transfer(transfer)
{
}

FileDownloader::~FileDownloader() = default;

void FileDownloader::DownloadFiles()
{
    using kiro::AbortFlag;
    using Label = GetterSink::Label;

    // A copy: nested handlers run while files are fetched.
    const QStringList urls = kiro::FileURLs;
    const int itemCount = m_sink.FileItemCount();
    const auto isTicked = [&](int i) { return i < itemCount && m_sink.IsFileItemTicked(i); };

    int SelectedCount = 0;
    int DoneCount = 0;
    for (int i = 0; i < urls.size(); ++i) {
        if (isTicked(i))
            ++SelectedCount;
    }
    if (SelectedCount == 0)
        return;

    m_sink.SetLabel(Label::All, QString::number(SelectedCount));
    m_sink.SetLabel(Label::Now, QStringLiteral("0"));
    m_sink.SetProgressRange(0, SelectedCount);

    const QString DownloadSubDir = kiro::DownloadSubDirName(m_vars.BaseURL);
    const QString folder = kiro::JoinPath(kiro::FstDir, DownloadSubDir);
    // A folder that is there already, or cannot be made, shows up as failed
    // transfers of the files.
    QDir().mkpath(folder);
    m_sink.SetLabel(Label::DLDir, folder);
    m_vars.SavePath.clear();

    // However the run ends, the file received last is put in place.
    struct SaveAtEnd {
        FileDownloader *self;
        ~SaveAtEnd() { self->SaveReceived(); }
    } saveAtEnd{this};

    for (int i = 0; i < urls.size(); ++i) {
        if (i < itemCount)
            m_sink.SetCurrentFileItem(i);
        if (!isTicked(i))
            continue;

        ++DoneCount;
        m_sink.SetLabel(Label::Now, QString::number(DoneCount));
        m_sink.SetProgressValue(DoneCount);

        const QString &url = urls.at(i);
        const QString SaveName = kiro::SaveNameFor(url, kiro::chkFileName);
        const QString path = SaveName.isEmpty() ? QString() : kiro::JoinPath(folder, SaveName);
        // An address that names no file is not requested; it ends as a
        // request for it would.
        if (path.isEmpty() || !IsDirectlyInside(path, folder)) {
            SetItemResult(i, FailedText);
            if (!GoOnAfterItem())
                return;
            continue;
        }
        m_vars.SavePath = path;

        // The file received last may be this one.
        if (m_received.file && MayBeSameFile(m_received.path, path))
            SaveReceived();
        if (IsAlreadyThere(path, SaveName)) {
            SetItemResult(i, AlreadyThereText);
            if (!GoOnAfterItem())
                return;
            continue;
        }

        m_sink.SetLabel(Label::DLFname, SaveName);
        if (m_transfer.FetchFileToHandOver(url, m_vars.BaseURL, [this] { SaveReceived(); })
            == TransferControl::WaitResult::Aborted)
            return;   // the transfer shows the abort text and leaves no file

        std::unique_ptr<PartFile> file = m_transfer.TakeFinishedFile();
        if (m_transfer.LastFailed() || !file) {
            // A failed transfer leaves nothing of its own behind; whatever is
            // at the path now was put there by someone else and stays.
            SetItemResult(i, FailedText);
            if (!GoOnAfterItem())
                return;
        } else if (kiro::IsAboveThreshold(kiro::grhkb, m_vars.ReceivedBytes)) {
            m_received = Received{i, path, m_vars.ReceivedBytes, std::move(file)};
            if (!GoOnAfterItem())
                return;
        } else {
            // Not kept: the file never takes its name.
            file.reset();
            SetItemResult(i, AtOrBelowSizeText);
        }
    }
}

bool FileDownloader::GoOnAfterItem()
{
    kiro::PumpEventsThrottled();
    if (kiro::AbortFlag == 1) {
        m_sink.SetStatusText(kiro::AbortedText);
        return false;
    }
    return true;
}

void FileDownloader::SaveReceived()
{
    if (!m_received.file)
        return;
    const Received received = std::exchange(m_received, Received());
    if (received.file->commit()) {
        SetItemResult(received.item, kiro::KilobyteText(received.bytes));
    } else {
        qWarning("cannot save %s: %s", qPrintable(received.path),
                 qPrintable(received.file->errorString()));
        m_sink.SetStatusText(kiro::TransferErrorText);
        SetItemResult(received.item, FailedText);
    }
}

void FileDownloader::SetItemResult(int i, const QString &result)
{
    m_sink.SetFileItemText(i, kiro::FileItemResultText(m_sink.FileItemText(i), result));
}
