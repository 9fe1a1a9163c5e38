// Times DownloadFiles over every address of a list file, all ticked, into a
// download folder: the getter's "DownLoad" without its window.
//
//   kiro_bench_download LIST FOLDER PAGE_URL
//
// Prints "kiro_ms=N kept=K failed=F".
#include "getter/engine/FileDownloader.h"
#include "getter/engine/GetterSink.h"
#include "getter/engine/GetterVars.h"
#include "getter/engine/TransferQueue.h"

#include "core/Shared.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

// A list where every item is ticked; the other outputs are dropped.
class TickedListSink : public SilentGetterSink
{
public:
    explicit TickedListSink(const QStringList &urls) : m_texts(urls) {}

    int FileItemCount() const override { return int(m_texts.size()); }
    bool IsFileItemTicked(int) const override { return true; }
    QString FileItemText(int i) const override { return m_texts.at(i); }
    void SetFileItemText(int i, const QString &text) override { m_texts[i] = text; }

    int CountEndingWith(const QString &tail) const
    {
        int n = 0;
        for (const QString &t : m_texts)
            n += t.endsWith(tail) ? 1 : 0;
        return n;
    }

private:
    QStringList m_texts;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: %s LIST FOLDER PAGE_URL\n", argv[0]);
        return 2;
    }

    QFile list(args.at(1));
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(args.at(1)));
        return 2;
    }
    QStringList urls;
    QTextStream in(&list);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (!line.isEmpty())
            urls.append(line);
    }

    kiro::FileURLs = urls;
    kiro::FstDir = args.at(2);
    kiro::grhkb = 1;
    kiro::chkFileName = 0;
    kiro::AbortFlag = 0;

    GetterVars vars;
    vars.BaseURL = args.at(3);
    TickedListSink sink(urls);
    TransferQueue queue;
    FileDownloader downloader(vars, sink, queue);

    QElapsedTimer timer;
    timer.start();
    downloader.DownloadFiles();
    const qint64 ms = timer.elapsed();

    std::printf("kiro_ms=%lld kept=%d failed=%d\n", static_cast<long long>(ms),
                sink.CountEndingWith(QStringLiteral("kb")),
                sink.CountEndingWith(QStringLiteral("ダウンロード失敗")));
    return 0;
}
