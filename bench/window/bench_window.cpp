// The getter's window timed as the user waits for it: the browser window on a
// start page, the getter opened ("Fget") on an address, and then
//
//   kiro_bench_window search START_URL PAGE_URL DL_DIR
//       "Serch" (with the linked pages) until the listed state is on screen;
//   kiro_bench_window download START_URL PAGE_URL DL_DIR
//       a search of the page alone (not timed), every file ticked with
//       "全てチェックをつける", then "DownLoad" until the end message
//       "ダウンロードが終了しました" would show (recorded through the message
//       seam); also the peak memory above the idle window.
//
// Prints key=value lines; run.sh drives it under Xvfb (or offscreen) and
// prints the peers beside it.

#include "browser/BrowserView.h"
#include "browser/frmMain.h"
#include "core/MessageSeam.h"
#include "core/Settings.h"
#include "getter/frmLoad.h"
#include "resources/Resources.h"

#include "bench/BenchSupport.h"

#include "bench/BenchWindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

const QString Finished = QStringLiteral("ダウンロードが終了しました");

// Starts the peak resident size afresh from the current one.
bool ResetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

double CpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
            + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Notes when lstFile was last painted, and how many rows it had then.
class PaintWatch : public QObject
{
public:
    PaintWatch(const QElapsedTimer &clock, const QListWidget *list) : m_clock(clock), m_list(list) {}
    qint64 lastPaintNs = -1;
    int rowsPainted = 0;
    int paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            lastPaintNs = m_clock.isValid() ? m_clock.nsecsElapsed() : -1;
            rowsPainted = m_list->count();
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer &m_clock;
    const QListWidget *m_list;
};

// Counts the resizes of a widget.
class ResizeCount : public QObject
{
public:
    int resizes = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            ++resizes;
        return QObject::eventFilter(watched, event);
    }
};

// Handles events until the list has been painted with all its rows (at
// once when that happened already), or for at most a second; whether it was.
bool WaitForListPainted(const PaintWatch &watch, const QListWidget *list)
{
    QElapsedTimer limit;
    limit.start();
    while (watch.rowsPainted != list->count() && limit.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    return watch.rowsPainted == list->count();
}

bool WriteFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    InitKiroResources();
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (args.size() != 5 || (mode != QLatin1String("search") && mode != QLatin1String("download"))) {
        std::fprintf(stderr, "usage: %s search|download START_URL PAGE_URL DL_DIR\n", argv[0]);
        return 2;
    }
    const QString startPage = args.at(2);
    const QString target = args.at(3);
    const QString dlDir = args.at(4);
    const bool search = mode == QLatin1String("search");

    QElapsedTimer clock;
    qint64 messageNs = -1;
    QStringList messages;
    // The counters as the end message finds them; the idle state empties them.
    QString nowAtEnd, allAtEnd;
    kiro::SetMessageHandler([&](const QString &text, const QString &) {
        if (text == Finished && messageNs < 0) {
            messageNs = clock.nsecsElapsed();
            if (frmLoad *getter = frmLoad::Current()) {
                nowAtEnd = getter->findChild<QLabel *>(QStringLiteral("lblNow"))->text();
                allAtEnd = getter->findChild<QLabel *>(QStringLiteral("lblAll"))->text();
            }
        }
        messages << text;
    });

    QTemporaryDir appDir;
    QDir().mkpath(dlDir);
    // Files at or below this many KB are not kept (the bench may set it).
    const QByteArray threshold = qEnvironmentVariable("KIRO_GRHKB", QStringLiteral("1")).toLatin1();
    const QByteArray ini = "[KIRO.set]\r\nStdHpAdrs=" + startPage.toLatin1() + "\r\nFstHpAdrs="
            + startPage.toLatin1() + "\r\nFstDir=" + dlDir.toLocal8Bit() + "\r\ngrhkb=" + threshold + "\r\nchkSubURL="
            + (search ? "1" : "0") + "\r\nchkFileName=0\r\n";
    // As many files at once as the setting says, when the bench sets it.
    const QByteArray atOnce = qgetenv("KIRO_FILES_AT_ONCE");
    const QByteArray iniAll = atOnce.isEmpty() ? ini : ini + "FilesAtOnce=" + atOnce + "\r\n";
    const QByteArray extensions = "\"bin\",1\r\n\"gif\",1\r\n\"jpg\",1\r\n\"mpg\",1\r\n\"zip\",1\r\n";
    if (!WriteFile(appDir.filePath(QStringLiteral("KIRO.ini")), iniAll)
        || !WriteFile(appDir.filePath(QStringLiteral("Extsn.fil")), extensions)) {
        std::fprintf(stderr, "cannot write the program files\n");
        return 1;
    }
    kiro::OverrideProgramFolder(appDir.path());

    frmMain browser;
    QPointer<frmLoad> getter = bench::OpenGetter(browser, startPage, target);
    if (!getter)
        return 1;
    auto *list = getter->findChild<QListWidget *>(QStringLiteral("lstFile"));
    PaintWatch paints(clock, list);
    list->viewport()->installEventFilter(&paints);
    {
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }

    // "Serch": until the list is filled and painted.
    clock.start();
    const double searchCpu0 = CpuSeconds();
    getter->Button(QStringLiteral("Serch"))->trigger();
    const qint64 searchReturnedNs = clock.nsecsElapsed();
    if (!getter || list->count() == 0 || !messages.isEmpty()) {
        std::fprintf(stderr, "the search listed nothing: %s\n", qPrintable(messages.join(QLatin1String("; "))));
        return 1;
    }
    const bool painted = WaitForListPainted(paints, list);
    // The list is on screen once the event pass that painted it is over.
    const qint64 searchNs = clock.nsecsElapsed();
    const int searchPaints = paints.paints;
    const double searchCpu = CpuSeconds() - searchCpu0;
    const int listed = list->count();
    int ticked = 0;
    for (int i = 0; i < listed; ++i)
        ticked += list->item(i)->checkState() == Qt::Checked ? 1 : 0;
    std::printf("kiro_files=%d\n", listed);
    std::printf("kiro_ticked_after_search=%d\n", ticked);
    if (search) {
        std::printf("kiro_seconds=%.3f\n", searchNs / 1e9);
        std::printf("kiro_search_returned_seconds=%.3f\n", searchReturnedNs / 1e9);
        std::printf("kiro_painted=%d\n", painted ? 1 : 0);
        std::printf("kiro_list_paints=%d\n", searchPaints);
        std::printf("kiro_cpu_seconds=%.3f\n", searchCpu);
        std::printf("kiro_peak_rss_kb=%lld\n", static_cast<long long>(bench::ProcStatusKB("VmHWM")));
        return 0;
    }

    // Every file ticked as the user does it, then "DownLoad".
    getter->findChild<QPushButton *>(QStringLiteral("cmdAllChk"))->click();
    QCoreApplication::processEvents();
    const qint64 idleRssKB = bench::ProcStatusKB("VmRSS");
    const bool peakReset = ResetPeakMemory();
    messages.clear();
    paints.paints = 0;
    clock.start();
    const double downloadCpu0 = CpuSeconds();
    ResizeCount listResizes;
    list->installEventFilter(&listResizes);
    getter->Button(QStringLiteral("DownLoad"))->trigger();
    const double downloadCpu = CpuSeconds() - downloadCpu0;
    const qint64 peakKB = bench::ProcStatusKB("VmHWM");
    if (!getter || messageNs < 0) {
        std::fprintf(stderr, "no end message: %s\n", qPrintable(messages.join(QLatin1String("; "))));
        return 1;
    }
    int kept = 0;
    int tooSmall = 0;
    for (int i = 0; i < list->count(); ++i) {
        kept += list->item(i)->text().endsWith(QLatin1String("kb")) ? 1 : 0;
        tooSmall += list->item(i)->text().endsWith(QStringLiteral("指定容量以下")) ? 1 : 0;
    }
    std::printf("kiro_seconds=%.3f\n", messageNs / 1e9);
    std::printf("kiro_cpu_seconds=%.3f\n", downloadCpu);
    std::printf("kiro_kept=%d\n", kept);
    std::printf("kiro_too_small=%d\n", tooSmall);
    std::printf("kiro_list_resizes=%d\n", listResizes.resizes);
    std::printf("kiro_list_paints=%d\n", paints.paints);
    std::printf("kiro_lblNow=%s\nkiro_lblAll=%s\n", qPrintable(nowAtEnd), qPrintable(allAtEnd));
    std::printf("kiro_idle_rss_kb=%lld\n", static_cast<long long>(idleRssKB));
    std::printf("kiro_peak_rss_kb=%lld\n", static_cast<long long>(peakReset ? peakKB : -1));
    return 0;
}
