// Fetches one address into a file through the getter's transfer (mode 3) and
// prints the time taken and the peak memory it cost. run.sh drives it.

#include "core/Shared.h"
#include "getter/GetterSink.h"
#include "getter/GetterVars.h"
#include "getter/Inet.h"
#include "getter/TransferControl.h"

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

    GetterVars vars;
    SilentGetterSink sink;
    TransferControl control(vars, sink);
    vars.SavePath = args.at(2);
    QCoreApplication::processEvents();

    const qint64 idleHwmKB = bench::ProcStatusKB("VmHWM");
    QElapsedTimer timer;
    timer.start();
    const auto result = control.Fetch(args.at(1), TransferMode::File);
    const qint64 ns = timer.nsecsElapsed();
    const qint64 peakHwmKB = bench::ProcStatusKB("VmHWM");

    const bool ok = result == TransferControl::WaitResult::Done && !control.LastFailed()
        && QFileInfo(vars.SavePath).size() == vars.ReceivedBytes;
    std::printf("kiro_ok=%d\n", ok ? 1 : 0);
    std::printf("kiro_bytes=%lld\n", static_cast<long long>(vars.ReceivedBytes));
    std::printf("kiro_seconds=%.3f\n", double(ns) / 1e9);
    std::printf("kiro_idle_hwm_kb=%lld\n", static_cast<long long>(idleHwmKB));
    std::printf("kiro_peak_hwm_kb=%lld\n", static_cast<long long>(peakHwmKB));
    if (!ok)
        std::fprintf(stderr, "transfer failed: %s\n", qPrintable(control.inet().ErrorString()));
    return ok ? 0 : 1;
}
