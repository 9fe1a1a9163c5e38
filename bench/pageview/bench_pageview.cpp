// Times the scan of a fetched page for srcset, lazy-loading attributes and
// CSS on pages of about 50 MB, ordinary and hostile, beside the three link
// expressions over the same text. run.sh drives it.

#include "core/Shared.h"
#include "getter/engine/LinkExtraction.h"
#include "getter/engine/PageViewLinks.h"

#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

struct Page {
    const char *what;
    QString html;
};

QString Repeat(const QString &piece, qsizetype size)
{
    QString text;
    text.reserve(size + piece.size());
    while (text.size() < size)
        text += piece;
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 5;
    const double limitMs = argc > 2 ? atof(argv[2]) : 2000.0;
    const qsizetype size = 50LL * 1000 * 1000;

    const QString gallery = QStringLiteral(
            "<div class=\"item\" style=\"background-image:url('/bg/a.jpg')\">"
            "<a href=\"/photos/1234/large.jpg\" data-zoom-image=\"/photos/1234/zoom.jpg\">"
            "<img src=\"data:image/gif;base64,R0lGODlhAQABAAAAACw=\" data-src=\"/photos/1234/m.jpg\" "
            "data-srcset=\"/photos/1234/s.jpg 480w, /photos/1234/m.jpg 800w, /photos/1234/l.jpg?x=1,2 1200w\" "
            "alt=\"a photograph &amp; its caption\" width=\"480\" height=\"320\"></a>"
            "<p>Some text that goes with the picture, a link <a href=\"/more.html\">more</a>.</p></div>\n");
    const QString text = QStringLiteral(
            "<p>Plain paragraphs of running text with an occasional <b>bold</b> word and a "
            "<a href=\"/page.html\">link</a>, and nothing for the scan to collect here.</p>\n");
    const QList<Page> pages = {
        {"gallery markup", Repeat(gallery, size)},
        {"text markup", Repeat(text, size)},
        {"one 50 MB attribute", QStringLiteral("<img title=\"") + QString(size, QLatin1Char('x'))
                                        + QStringLiteral("\" srcset=\"a.jpg 2x\">")},
        {"unclosed quote first", QStringLiteral("<img alt=\"") + Repeat(gallery, size)},
        {"nested url(", QStringLiteral("<style>") + Repeat(QStringLiteral("url("), size)
                                + QStringLiteral("</style>")},
        {"open tags only", Repeat(QStringLiteral("<a title=\"x\" "), size)},
        {"script openings", Repeat(QStringLiteral("<script>"), size)},
    };

    kiro::AbortFlag = 0;
    int slow = 0;
    std::printf("%-22s %8s %10s %10s %12s\n", "page", "MB", "found", "scan ms", "3 expr. ms");
    for (const Page &page : pages) {
        qsizetype found = 0;
        const double ms = bench::MedianMs([&] { found = kiro::PageViewHtmlAddresses(page.html).size(); }, rounds);
        QRegularExpression re(QString(), QRegularExpression::CaseInsensitiveOption);
        QStringList links;
        const double exprMs = bench::MedianMs([&] {
            links.clear();
            kiro::ExtractFileLinks(re, page.html, links, 0, {});
        }, 1);
        const bool isSlow = ms > limitMs;
        slow += isSlow ? 1 : 0;
        std::printf("%-22s %8.1f %10lld %10.1f %12.1f%s\n", page.what, page.html.size() / 1e6,
                    static_cast<long long>(found), ms, exprMs, isSlow ? "  SLOW" : "");
    }
    std::printf("%d page(s) over %.0f ms\n", slow, limitMs);
    return slow == 0 ? 0 : 1;
}
