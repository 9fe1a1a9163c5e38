#include "FileDownloader.h"

#include "DownloadNaming.h"
#include "GetterSink.h"
#include "GetterVars.h"
#include "Inet.h"
#include "PartFile.h"

#include "core/EventPump.h"
#include "core/Shared.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <limits>

namespace {

const QString AlreadyThereText = QStringLiteral("既に登録あり");
const QString AtOrBelowSizeText = QStringLiteral("指定容量以下");
const QString FailedText = QStringLiteral("ダウンロード失敗");

// The kilobyte label is for the eye; refreshing it more often only costs.
constexpr qint64 LabelRefreshMs = 50;

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

bool IsDirectlyInside(const QString &path, const QString &folder)
{
    return QDir::cleanPath(QFileInfo(path).absolutePath())
           == QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

// The largest body that is not kept, or -1 when every body is.
qint64 SkipAtOrBelowBytes(qint64 grhkb)
{
    if (grhkb < 0)
        return -1;
    return grhkb > std::numeric_limits<qint64>::max() / 1024 ? std::numeric_limits<qint64>::max()
                                                             : grhkb * 1024;
}

qint64 MonotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

struct FileDownloader::Item {
    enum State { Pending, WaitingForName, Running, Done };
    int index = 0;          // in lstFile and FileURLs
    int ordinal = 0;        // among the ticked items, from 1
    State state = Pending;
    bool started = false;   // its transfer was queued
    QString name;
    QString path;
    QString nameKey;        // the path as the file system may compare it
    QString statusText;     // of its transfer's last state
    qint64 bytes = 0;
};

FileDownloader::FileDownloader(GetterVars &vars, GetterSink &sink, TransferQueue &queue)
    : m_vars(vars)
    , m_sink(sink)
    , m_queue(queue)
{
}

FileDownloader::~FileDownloader() = default;

void FileDownloader::DownloadFiles()
{
    using Label = GetterSink::Label;

    const GetterOptions options = GetterOptions::Current();
    const QStringList urls = kiro::FileURLs;
    const int itemCount = m_sink.FileItemCount();

    m_items.clear();
    for (int i = 0; i < urls.size(); ++i) {
        if (i < itemCount && m_sink.IsFileItemTicked(i)) {
            Item item;
            item.index = i;
            item.ordinal = int(m_items.size()) + 1;
            m_items.push_back(item);
        }
    }
    if (m_items.empty())
        return;
    const int selected = int(m_items.size());

    m_sink.SetLabel(Label::All, QString::number(selected));
    m_sink.SetLabel(Label::Now, QStringLiteral("0"));
    m_sink.SetProgressRange(0, selected);

    m_folder = kiro::JoinPath(options.FstDir, kiro::DownloadSubDirName(m_vars.BaseURL));
    // A folder that is there already, or cannot be made, shows up as failed
    // transfers of the files.
    QDir().mkpath(m_folder);
    m_sink.SetLabel(Label::DLDir, m_folder);

    m_thresholdKB = options.grhkb;
    m_chkFileName = options.chkFileName;
    m_byTransfer.clear();
    m_unfinishedByName.clear();
    m_waitingForName.clear();
    m_ready.clear();
    m_next = m_front = m_running = m_done = 0;
    m_shownFront = m_shownListIndex = -1;
    m_shownKB = -1;
    m_queue.SetLimit(options.FilesAtOnce);

    const QMetaObject::Connection states = QObject::connect(
            &m_queue, &TransferQueue::StateChanged, &m_queue, [this](int id, int state) {
                const int k = m_byTransfer.value(id, -1);
                if (k < 0)
                    return;
                Item &item = m_items[size_t(k)];
                const QString text = kiro::TransferStatusText(state);
                if (!text.isEmpty())
                    item.statusText = text;
                if (k != m_front)
                    return;
                if (!text.isEmpty())
                    m_sink.SetStatusText(text);
                if (state == Inet::StateCompleted)
                    ShowKB(item.bytes, true);
            });
    const QMetaObject::Connection progress = QObject::connect(
            &m_queue, &TransferQueue::Progress, &m_queue, [this](int id, qint64 bytes) {
                const int k = m_byTransfer.value(id, -1);
                if (k < 0)
                    return;
                m_items[size_t(k)].bytes = bytes;
                if (k == m_front)
                    ShowKB(bytes, bytes == 0);
            });
    const QMetaObject::Connection finished = QObject::connect(
            &m_queue, &TransferQueue::Finished, &m_queue,
            [this](int id, const TransferQueue::Result &result) { OnFinished(id, result); });
    struct Disconnect {
        QList<QMetaObject::Connection> connections;
        ~Disconnect()
        {
            for (const QMetaObject::Connection &c : connections)
                QObject::disconnect(c);
        }
    } disconnectAtEnd{{states, progress, finished}};

    // Items are taken up in list order. With several at once, a few more
    // wait in the queue than run, so that a transfer that ends is followed at
    // once by the next, without a pass of the window's events between.
    const int ahead = m_queue.Limit() == 1 ? 1 : 2 * m_queue.Limit();
    bool aborted = false;
    while (!aborted) {
        while (m_running < ahead) {
            int k = -1;
            if (!m_ready.isEmpty())
                k = m_ready.takeFirst();
            else if (m_next < selected)
                k = m_next++;
            if (k < 0)
                break;
            Consider(k);
            kiro::PumpEventsThrottled();
            if (kiro::AbortFlag == 1) {
                aborted = true;
                break;
            }
        }
        if (aborted)
            break;
        ShowFront();
        if (m_done == selected)
            break;
        m_changed = false;
        aborted = !kiro::WaitFor([this] { return m_changed; });
    }

    if (aborted) {
        // Every transfer in flight ends now, and takes its partial file along.
        m_queue.CancelAll();
        m_byTransfer.clear();
        m_running = 0;
        m_sink.SetStatusText(kiro::AbortedText);
        return;
    }
    // The list is gone through to its end, as the items after the last
    // ticked one are passed too.
    for (int i = m_shownListIndex + 1; i < std::min(int(urls.size()), itemCount); ++i)
        m_sink.SetCurrentFileItem(i);
}

void FileDownloader::Consider(int k)
{
    ShowFront();
    Item &item = m_items[size_t(k)];
    if (item.state == Item::Pending) {
        const QString &url = kiro::FileURLs.at(item.index);
        item.name = kiro::SaveNameFor(url, m_chkFileName);
        item.path = item.name.isEmpty() ? QString() : kiro::JoinPath(m_folder, item.name);
        item.nameKey = item.path.toCaseFolded();
    }
    // An address that names no file is not requested; it ends as a request
    // for it would.
    if (item.path.isEmpty() || !IsDirectlyInside(item.path, m_folder)) {
        Finish(item, FailedText);
        return;
    }
    // An earlier item that takes the same name decides first.
    if (m_unfinishedByName.contains(item.nameKey)) {
        item.state = Item::WaitingForName;
        m_waitingForName[item.nameKey].append(k);
        return;
    }
    if (IsAlreadyThere(item.path, item.name)) {
        Finish(item, AlreadyThereText);
        return;
    }
    Start(item);
}

void FileDownloader::Start(Item &item)
{
    item.state = Item::Running;
    item.started = true;
    item.bytes = 0;
    m_unfinishedByName.insert(item.nameKey, item.ordinal);
    ++m_running;
    if (item.ordinal - 1 == m_front)
        m_sink.SetLabel(GetterSink::Label::DLFname, item.name);

    TransferQueue::Request request;
    request.url = kiro::FileURLs.at(item.index);
    request.referer = m_vars.BaseURL;
    // Every request of a download is made from the searched page.
    request.cookieSite = m_vars.BaseURL;
    request.savePath = item.path;
    request.skipAtOrBelow = SkipAtOrBelowBytes(m_thresholdKB);
    request.handOver = true;
    m_byTransfer.insert(m_queue.Enqueue(request), item.ordinal - 1);
}

void FileDownloader::OnFinished(TransferQueue::Id id, const TransferQueue::Result &result)
{
    // Another run's request on the same queue is not this run's.
    const int k = m_byTransfer.value(id, -1);
    if (k < 0)
        return;
    m_byTransfer.remove(id);
    Item &item = m_items[size_t(k)];
    --m_running;
    m_changed = true;
    switch (result.outcome) {
    case TransferQueue::Result::Failed:
        // A failed transfer leaves nothing of its own behind; whatever is at
        // the path now was put there by someone else and stays.
        Finish(item, FailedText);
        return;
    case TransferQueue::Result::SkippedAtHead:
        Finish(item, AtOrBelowSizeText);
        return;
    case TransferQueue::Result::Completed:
        break;
    }
    if (!result.file || !kiro::IsAboveThreshold(m_thresholdKB, result.bytes)) {
        // Not kept: the file never takes its name.
        if (result.file)
            result.file->cancelWriting();
        Finish(item, result.file ? AtOrBelowSizeText : FailedText);
        return;
    }
    if (result.file->commit()) {
        Finish(item, kiro::KilobyteText(result.bytes));
        return;
    }
    qWarning("cannot save %s: %s", qPrintable(item.path), qPrintable(result.file->errorString()));
    if (k == m_front)
        m_sink.SetStatusText(kiro::TransferErrorText);
    Finish(item, FailedText);
}

void FileDownloader::Finish(Item &item, const QString &result)
{
    item.state = Item::Done;
    ++m_done;
    SetItemResult(item.index, result);
    if (!item.started)
        return;
    m_unfinishedByName.remove(item.nameKey);
    // The next item of the same name may go now: it finds the name taken if
    // this one was kept.
    const auto waiting = m_waitingForName.find(item.nameKey);
    if (waiting == m_waitingForName.end())
        return;
    const int next = waiting->takeFirst();
    if (waiting->isEmpty())
        m_waitingForName.erase(waiting);
    m_items[size_t(next)].state = Item::Pending;
    const auto at = std::lower_bound(m_ready.begin(), m_ready.end(), next);
    m_ready.insert(at, next);
    m_changed = true;
}

void FileDownloader::ShowFront()
{
    using Label = GetterSink::Label;
    const int count = int(m_items.size());
    while (m_front < count && m_items[size_t(m_front)].state == Item::Done)
        ++m_front;
    const int target = std::min(m_front, count - 1);
    if (target == m_shownFront)
        return;
    m_shownFront = target;
    const Item &item = m_items[size_t(target)];
    for (int i = m_shownListIndex + 1; i <= item.index; ++i)
        m_sink.SetCurrentFileItem(i);
    m_shownListIndex = item.index;
    m_sink.SetLabel(Label::Now, QString::number(item.ordinal));
    m_sink.SetProgressValue(item.ordinal);
    if (item.state == Item::Running) {
        m_sink.SetLabel(Label::DLFname, item.name);
        ShowKB(item.bytes, true);
        if (!item.statusText.isEmpty())
            m_sink.SetStatusText(item.statusText);
    }
}

void FileDownloader::ShowKB(qint64 bytes, bool always)
{
    const qint64 kb = bytes / 1024;
    if (kb == m_shownKB && !always)
        return;
    const qint64 now = MonotonicMs();
    if (!always && now - m_labelAtMs < LabelRefreshMs)
        return;
    m_shownKB = kb;
    m_labelAtMs = now;
    m_sink.SetLabel(GetterSink::Label::KB, QString::number(kb));
}

void FileDownloader::SetItemResult(int i, const QString &result)
{
    m_sink.SetFileItemText(i, kiro::FileItemResultText(m_sink.FileItemText(i), result));
}
