// Fetches one address into a file through the getter's transfer queue and
// prints the time taken and the peak memory it cost. run.sh drives it.

#include "core/EventPump.h"
#include "core/Shared.h"
#include "getter/engine/TransferQueue.h"

#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: %s URL SAVE_PATH\n", qPrintable(args.value(0)));
        return 2;
    }

    TransferQueue queue;
    TransferQueue::Request request;
    request.url = args.at(1);
    request.savePath = args.at(2);
    bool finished = false;
    TransferQueue::Result result;
    QObject::connect(&queue, &TransferQueue::Finished, &queue, [&](int, const TransferQueue::Result &r) {
        finished = true;
        result = r;
    });
    QCoreApplication::processEvents();

    const qint64 idleHwmKB = bench::ProcStatusKB("VmHWM");
    QElapsedTimer timer;
    timer.start();
    queue.Enqueue(request);
    kiro::WaitFor([&] { return finished; });
    const qint64 ns = timer.nsecsElapsed();
    const qint64 peakHwmKB = bench::ProcStatusKB("VmHWM");

    const bool ok = result.outcome == TransferQueue::Result::Completed
        && QFileInfo(request.savePath).size() == result.bytes;
    std::printf("kiro_ok=%d\n", ok ? 1 : 0);
    std::printf("kiro_bytes=%lld\n", static_cast<long long>(result.bytes));
    std::printf("kiro_seconds=%.3f\n", double(ns) / 1e9);
    std::printf("kiro_idle_hwm_kb=%lld\n", static_cast<long long>(idleHwmKB));
    std::printf("kiro_peak_hwm_kb=%lld\n", static_cast<long long>(peakHwmKB));
    if (!ok)
        std::fprintf(stderr, "transfer failed: %s\n", qPrintable(result.error));
    return ok ? 0 : 1;
}
