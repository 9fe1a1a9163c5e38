// Runs the getter's search of one page as the "Serch" command does and prints
// how long it took and how many file addresses it listed. run.sh drives it.
//
//   kiro_bench_search site URL   the page and the pages it links to, from the
//                                start of the search to the filled FileURLs
//   kiro_bench_search page URL   the page alone; the time of the analysis after
//                                its transfer is printed apart

#include "core/Shared.h"
#include "getter/engine/GetterSink.h"
#include "getter/engine/GetterVars.h"
#include "getter/engine/PageAnalyzer.h"
#include "getter/engine/TransferQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

const QString CompletedText = QStringLiteral("要求処理が完了し，すべてのデータが受信されました．");

// Notes when the last transfer completed.
class TimingSink : public SilentGetterSink
{
public:
    explicit TimingSink(const QElapsedTimer &clock) : m_clock(clock) {}

    qint64 lastCompletedNs = -1;
    QString lastText;

    void SetStatusText(const QString &text) override
    {
        lastText = text;
        if (text == CompletedText)
            lastCompletedNs = m_clock.nsecsElapsed();
    }

private:
    const QElapsedTimer &m_clock;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3 || (args.at(1) != QLatin1String("site") && args.at(1) != QLatin1String("page"))) {
        std::fprintf(stderr, "usage: %s site|page URL\n", qPrintable(args.value(0)));
        return 2;
    }

    kiro::ExtNames = QStringList{QString(), "avi", "bmp", "gif", "jpeg", "jpg", "lzh", "mov",
                                 "mpeg", "mpg", "ra", "ram", "rm", "zip"};
    kiro::ExtChecks = QList<int>(kiro::ExtNames.size(), 1);
    kiro::ExtChecks[0] = 0;
    kiro::chkSubURL = args.at(1) == QLatin1String("site") ? 1 : 0;
    kiro::AbortFlag = 0;

    QElapsedTimer clock;
    GetterVars vars;
    TimingSink sink(clock);
    TransferQueue queue;
    PageAnalyzer analyzer(vars, sink, queue);
    QCoreApplication::processEvents();

    clock.start();
    vars.FoundCount = 0;
    vars.FoundFiles = QStringList{QString()};
    analyzer.BeginSearch();
    analyzer.AnalyzePage(args.at(2));
    const qint64 endNs = clock.nsecsElapsed();

    const bool ok = kiro::AbortFlag == 0 && analyzer.anyPageText() && !analyzer.analysisFailed();
    std::printf("kiro_ok=%d\n", ok ? 1 : 0);
    std::printf("kiro_files=%lld\n", static_cast<long long>(vars.FoundCount));
    std::printf("kiro_seconds=%.3f\n", double(endNs) / 1e9);
    if (sink.lastCompletedNs >= 0) {
        std::printf("kiro_transfer_seconds=%.3f\n", double(sink.lastCompletedNs) / 1e9);
        std::printf("kiro_analysis_seconds=%.3f\n", double(endNs - sink.lastCompletedNs) / 1e9);
    }
    if (!ok)
        std::fprintf(stderr, "search failed; last status text: %s\n", qPrintable(sink.lastText));
    return ok ? 0 : 1;
}
