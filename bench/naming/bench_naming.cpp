// Times every name and address step of a search and a download on one very
// long link, the kind a page can carry by accident or on purpose. Each step
// runs on the window thread with no event handled meanwhile, so each must end
// within a few milliseconds whatever the link. run.sh drives it.

#include "core/EmbeddedUrl.h"
#include "getter/engine/AddressRules.h"
#include "getter/engine/DownloadNaming.h"

#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

struct Link {
    const char *what;
    QString address;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 11;
    const double limitMs = argc > 2 ? atof(argv[2]) : 10.0;

    // About 3 MB as the file system writes it.
    const QString kana(1000000, QChar(0x3042));
    QString halves;
    for (int i = 0; i < 1000000; ++i)
        halves += i % 3 == 0 ? QChar(0xD800) : QChar(0x3042);
    QString steps;
    for (int i = 0; i < 150000; ++i)
        steps += QStringLiteral("d%1/../").arg(i % 10);
    const QList<Link> links = {
        {"kana name", QStringLiteral("http://h/pics/") + kana + QStringLiteral(".jpg")},
        {"kana folder", QStringLiteral("http://h/") + kana + QStringLiteral("/a.jpg")},
        {"unpaired halves", QStringLiteral("https://h/pics/") + halves + QStringLiteral(".jpg")},
        {"parent steps", QStringLiteral("http://h//a/") + steps + QStringLiteral("x.jpg")},
        {"embedded", QStringLiteral("http://h/jump?url=http://t/") + kana + QStringLiteral(".jpg&x=1")},
    };

    int slowSteps = 0;
    std::printf("%-16s %-22s %10s\n", "link", "step", "median ms");
    for (const Link &link : links) {
        const QString &a = link.address;
        const QString folder = kiro::PageFolder(a);
        const QList<QPair<const char *, std::function<void()>>> measured = {
            {"SaveNameFor", [&] { kiro::SaveNameFor(a, 0); }},
            {"SaveNameFor prefix", [&] { kiro::SaveNameFor(a, 1); }},
            {"DownloadSubDirName", [&] { kiro::DownloadSubDirName(a); }},
            {"FileItemResultText", [&] { kiro::FileItemResultText(a, QStringLiteral("37kb")); }},
            {"PageFolder", [&] { kiro::PageFolder(a); }},
            {"JoinToPage", [&] { kiro::JoinToPage(QStringLiteral("b.jpg"), a, folder); }},
            {"CollapseSlashes", [&] { kiro::CollapseSlashes(a); }},
            {"ResolveParentRefs", [&] { kiro::ResolveParentRefs(a); }},
            {"ExtractEmbeddedURL", [&] { kiro::ExtractEmbeddedURL(a); }},
        };
        for (const auto &[name, step] : measured) {
            const double ms = bench::MedianMs(step, rounds);
            const bool slow = ms > limitMs;
            slowSteps += slow ? 1 : 0;
            std::printf("%-16s %-22s %10.2f%s\n", link.what, name, ms, slow ? "  SLOW" : "");
        }
    }
    std::printf("%d step(s) over %.1f ms\n", slowSteps, limitMs);
    return slowSteps == 0 ? 0 : 1;
}
