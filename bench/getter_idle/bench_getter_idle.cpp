// The getter's cost while a search waits on a server that never answers: the
// browser window on a local page, the getter opened on an address of a silent
// server, "Serch" pressed, and the process's CPU time measured over the wait
// with the busy blinker running. run.sh drives it.
//
//   kiro_bench_getter_idle [SECONDS]     (default 10)
//   kiro_bench_getter_idle SECONDS still   the same with the blinker stopped,
//                                          to tell its share from the rest

#include "browser/BrowserView.h"
#include "browser/frmMain.h"
#include "core/MessageSeam.h"
#include "core/Settings.h"
#include "getter/frmLoad.h"
#include "resources/Resources.h"

#include "bench/BenchWindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

double Seconds(const rusage &usage)
{
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
            + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double CpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return Seconds(usage);
}

struct ThreadTime {
    QString name;
    double seconds = 0;
};

// CPU time of each thread of this process, from /proc.
QList<ThreadTime> ThreadTimes()
{
    QList<ThreadTime> out;
    const double tick = double(sysconf(_SC_CLK_TCK));
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const int open = line.indexOf('(');
        const int close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() < 13)
            continue;
        // Fields 14 and 15 of the line: user and system time in ticks.
        ThreadTime t;
        t.name = QString::fromLocal8Bit(line.mid(open + 1, close - open - 1)) + '/' + tid;
        t.seconds = (fields.at(11).toLongLong() + fields.at(12).toLongLong()) / tick;
        out.append(t);
    }
    return out;
}

// Answers every request with the same small page.
class PageServer : public QTcpServer
{
public:
    PageServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    const QByteArray body = "<html><body><p>KIRO</p></body></html>";
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n"
                                  "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
};

// Accepts connections and never answers.
class SilentServer : public QTcpServer
{
public:
    int accepted = 0;

    SilentServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                ++accepted;
                // Reads and drops the request, so that nothing piles up.
                connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
            }
        });
    }
};

// Counts the blinker's repaints.
class PaletteCounter : public QObject
{
public:
    int changes = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++changes;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    InitKiroResources();
    const int measureMs = qMax(1, app.arguments().value(1, QStringLiteral("10")).toInt()) * 1000;
    const bool still = app.arguments().value(2) == QLatin1String("still");
    constexpr int SettleMs = 2000;

    kiro::SetMessageHandler([](const QString &text, const QString &title) {
        std::fprintf(stderr, "message %s: %s\n", qPrintable(title), qPrintable(text));
    });

    PageServer pages;
    SilentServer silent;
    if (!pages.listen(QHostAddress::LocalHost) || !silent.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    const QString startPage = QStringLiteral("http://127.0.0.1:%1/start.html").arg(pages.serverPort());
    const QString silentPage = QStringLiteral("http://127.0.0.1:%1/gallery.html").arg(silent.serverPort());

    QTemporaryDir appDir;
    QDir().mkpath(appDir.filePath(QStringLiteral("dl")));
    QFile ini(appDir.filePath(QStringLiteral("KIRO.ini")));
    if (!ini.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write KIRO.ini\n");
        return 1;
    }
    ini.write("[KIRO.set]\r\nStdHpAdrs=" + startPage.toLatin1() + "\r\nFstHpAdrs="
              + startPage.toLatin1() + "\r\nFstDir=" + appDir.filePath(QStringLiteral("dl")).toLocal8Bit()
              + "\r\n");
    ini.close();
    kiro::OverrideProgramFolder(appDir.path());

    frmMain browser;
    QPointer<frmLoad> getter = bench::OpenGetter(browser, startPage, silentPage);
    if (!getter)
        return 1;
    PaletteCounter blinks;
    if (QLabel *blinker = getter->findChild<QLabel *>(QStringLiteral("lblRight")))
        blinker->installEventFilter(&blinks);

    double processStart = 0, processEnd = 0, mainStart = 0, mainEnd = 0;
    int blinksStart = 0, blinksEnd = 0;
    bool waiting = false;
    QList<ThreadTime> threadsStart, threadsEnd;
    QElapsedTimer wall;
    qint64 wallNs = 0;

    // The measurement runs inside the search, which only returns after Stop.
    QTimer::singleShot(SettleMs, [&] {
        if (still) {
            if (QTimer *timer = getter->findChild<QTimer *>(QStringLiteral("Timer")))
                timer->stop();
        }
        waiting = getter && getter->IsRunning() && silent.accepted > 0;
        threadsStart = ThreadTimes();
        blinksStart = blinks.changes;
        wall.start();
        mainStart = CpuSeconds(RUSAGE_THREAD);
        processStart = CpuSeconds(RUSAGE_SELF);
    });
    QTimer::singleShot(SettleMs + measureMs, [&] {
        processEnd = CpuSeconds(RUSAGE_SELF);
        mainEnd = CpuSeconds(RUSAGE_THREAD);
        wallNs = wall.nsecsElapsed();
        blinksEnd = blinks.changes;
        threadsEnd = ThreadTimes();
        waiting = waiting && getter && getter->IsRunning();
        if (getter)
            getter->Button(QStringLiteral("Stop"))->trigger();
    });
    getter->TB_ButtonClick(QStringLiteral("Serch"));

    if (!waiting || wallNs == 0) {
        std::fprintf(stderr, "the search was not waiting on the silent server the whole time\n");
        return 1;
    }
    const double wallSeconds = wallNs / 1e9;
    const double percent = 100.0 * (processEnd - processStart) / wallSeconds;
    const double mainPercent = 100.0 * (mainEnd - mainStart) / wallSeconds;
    std::printf("waited %.1f s on a silent server with the blinker running (%d repaints)\n",
                wallSeconds, blinksEnd - blinksStart);
    std::printf("kiro_cpu_percent=%.2f\n", percent);
    std::printf("kiro_main_thread_percent=%.2f\n", mainPercent);

    // The threads that used the most, for finding out where the time goes.
    QList<ThreadTime> used;
    for (const ThreadTime &end : std::as_const(threadsEnd)) {
        double start = 0;
        for (const ThreadTime &t : std::as_const(threadsStart)) {
            if (t.name == end.name)
                start = t.seconds;
        }
        used.append({end.name, end.seconds - start});
    }
    std::sort(used.begin(), used.end(),
              [](const ThreadTime &a, const ThreadTime &b) { return a.seconds > b.seconds; });
    for (int i = 0; i < used.size() && i < 4 && used.at(i).seconds > 0; ++i)
        std::printf("thread %s: %.2f %%\n", qPrintable(used.at(i).name),
                    100.0 * used.at(i).seconds / wallSeconds);
    return 0;
}
