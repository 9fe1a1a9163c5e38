#include "LinkExtraction.h"

#include "core/EcmaRegExp.h"
#include "core/Shared.h"
#include "core/TextFile.h"

#include <initializer_list>
#include <utility>

namespace kiro {

namespace {

// The value of a src or href attribute: a value in single quotes runs to the
// closing quote (group 3); any other runs to white space, '"' or '>' (group 4).
const QRegularExpression &AttributeValuePattern()
{
    static const QRegularExpression re = MakeEcmaRegExp(
            QStringLiteral("(SRC|HREF)([\\s]*=[\\s\"]*)(?:'([^']*)'|([^\\s\">]+))([\\s\">]*)"));
    return re;
}

// An address written out in a page, up to white space or '<'.
const QRegularExpression &PageAddressPattern()
{
    static const QRegularExpression re =
            MakeEcmaRegExp(QStringLiteral("([>\\s]*)(https?://[^\\s<]+)([\\s<]*)"));
    return re;
}

// The first argument of window.open, without its single quotes.
const QRegularExpression &WindowOpenPattern()
{
    static const QRegularExpression re =
            MakeEcmaRegExp(QStringLiteral("(WINDOW\\.OPEN)([\\s(']*)([^\\s')]+)([\\s')]*)"));
    return re;
}

// An address written out in a page and ended by white space, '<', '"' or '>'.
const QRegularExpression &FileAddressPattern()
{
    static const QRegularExpression re =
            MakeEcmaRegExp(QStringLiteral("(https?://[^\\s<\">]+)([\\s<\">]+)"));
    return re;
}

std::function<bool(const QString &)> &EngineGivesUpOn()
{
    static std::function<bool(const QString &)> givesUp;
    return givesUp;
}

} // namespace

void SetEngineGivesUpOn(std::function<bool(const QString &text)> givesUp)
{
    EngineGivesUpOn() = std::move(givesUp);
}

void StoreAt(QStringList &list, qsizetype n, const QString &value)
{
    if (list.size() == n) {
        list.append(value);
        return;
    }
    if (list.size() < n) {
        list.reserve(n + 1);
        while (list.size() < n)
            list.append(QString());
        list.append(value);
        return;
    }
    list.erase(list.begin() + n + 1, list.end());
    list[n] = value;
}

LinkScanResult RunLinkPass(const QRegularExpression &pattern, const QList<int> &valueGroups,
                           const QString &text, QStringList &links, qsizetype n,
                           const LinkScanHooks &hooks)
{
    LinkScanResult result;
    QRegularExpression limited;
    if (const auto &givesUp = EngineGivesUpOn(); givesUp && givesUp(text))
        limited = QRegularExpression(QStringLiteral("(*LIMIT_MATCH=1)") + pattern.pattern(),
                                     pattern.patternOptions());
    QRegularExpressionMatchIterator it =
            (limited.pattern().isEmpty() ? pattern : limited).globalMatch(text);
    while (it.hasNext()) {
        if (hooks.limit >= 0 && n >= hooks.limit) {
            result.limitReached = true;
            result.count = n;
            return result;
        }
        const QRegularExpressionMatch match = it.next();
        QStringView value;
        for (const int group : valueGroups) {
            if (match.capturedStart(group) >= 0) {
                value = match.capturedView(group);
                break;
            }
        }
        StoreAt(links, n, TrimSpaces(value).toString());
        if (hooks.pumpEvents)
            hooks.pumpEvents();
        if (AbortFlag == 1) {
            if (hooks.reportAborted)
                hooks.reportAborted();
            result.count = n;
            return result;
        }
        ++n;
    }
    // The iterator stops on an engine error (match or stack limit) as it
    // stops at the end; only its validity tells them apart.
    result.matchError = !it.isValid();
    result.count = n;
    return result;
}

namespace {

struct LinkPass {
    const QRegularExpression &pattern;
    QList<int> valueGroups;
};

// Runs the passes in order over the same text, each going on from the
// counter the previous one left.
LinkScanResult RunLinkPasses(QRegularExpression &linkRegExp, std::initializer_list<LinkPass> passes,
                             const QString &text, QStringList &links, qsizetype start,
                             const LinkScanHooks &hooks)
{
    LinkScanResult total;
    total.count = start;
    bool first = true;
    for (const LinkPass &pass : passes) {
        if (!std::exchange(first, false) && hooks.pumpBetweenPasses)
            hooks.pumpBetweenPasses();
        linkRegExp = pass.pattern;
        const LinkScanResult r = RunLinkPass(linkRegExp, pass.valueGroups, text, links,
                                             total.count, hooks);
        total.count = r.count;
        total.matchError = total.matchError || r.matchError;
        if (r.limitReached) {
            total.limitReached = true;
            break;
        }
    }
    return total;
}

} // namespace

LinkScanResult ExtractPageLinks(QRegularExpression &linkRegExp, const QString &text,
                                QStringList &links, const LinkScanHooks &hooks)
{
    return RunLinkPasses(linkRegExp,
                         {{AttributeValuePattern(), {3, 4}}, {PageAddressPattern(), {2}}},
                         text, links, 1, hooks);
}

LinkScanResult ExtractFileLinks(QRegularExpression &linkRegExp, const QString &text,
                                QStringList &links, qsizetype candidateCount,
                                const LinkScanHooks &hooks)
{
    return RunLinkPasses(linkRegExp,
                         {{AttributeValuePattern(), {3, 4}},
                          {WindowOpenPattern(), {3}},
                          {FileAddressPattern(), {1}}},
                         text, links, candidateCount, hooks);
}

} // namespace kiro
