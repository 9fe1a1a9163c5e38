#pragma once
// Pieces every bench program measures with.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QList>

#include <algorithm>
#include <functional>

namespace bench {

// A field of /proc/self/status in kB, e.g. "VmHWM".
inline qint64 ProcStatusKB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// The median of rounds runs of step, in milliseconds: other work on the
// machine only ever adds to a run.
inline double MedianMs(const std::function<void()> &step, int rounds)
{
    QList<double> times;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        step();
        times.append(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

} // namespace bench
