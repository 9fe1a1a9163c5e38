#include "TransferRules.h"

#include <QList>

#include <algorithm>
#include <limits>

#include <curl/curl.h>

namespace kiro {

bool IsTransientStatus(int status)
{
    switch (status) {
    case 408: case 429: case 500: case 502: case 503: case 504:
        return true;
    default:
        return false;
    }
}

qint64 RetryAfterMs(const QByteArray &value, qint64 nowSecs)
{
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return -1;
    bool isNumber = true;
    for (char c : text)
        isNumber = isNumber && c >= '0' && c <= '9';
    if (isNumber) {
        bool ok = false;
        const qint64 seconds = text.toLongLong(&ok);
        // Too many digits to be a wait anyone means: far beyond the limit.
        return ok ? seconds * 1000 : std::numeric_limits<qint64>::max();
    }
    // curl_getdate reads the three date forms HTTP allows.
    const time_t at = curl_getdate(text.constData(), nullptr);
    if (at == time_t(-1))
        return -1;
    return std::max<qint64>(0, (qint64(at) - nowSecs) * 1000);
}

qint64 RetryWaitMs(int attempt, qint64 baseMs)
{
    const int doublings = std::clamp(attempt - 2, 0, 20);
    return baseMs << doublings;
}

ContentRange ParseContentRange(const QByteArray &value)
{
    ContentRange range;
    QByteArray text = value.trimmed();
    if (!text.toLower().startsWith("bytes "))
        return range;
    text = text.mid(6).trimmed();
    const qsizetype slash = text.indexOf('/');
    const qsizetype dash = text.indexOf('-');
    if (slash < 0 || dash < 0 || dash > slash)
        return range;
    bool okFirst = false, okLast = false, okTotal = true;
    range.first = text.left(dash).trimmed().toLongLong(&okFirst);
    range.last = text.mid(dash + 1, slash - dash - 1).trimmed().toLongLong(&okLast);
    const QByteArray total = text.mid(slash + 1).trimmed();
    range.total = total == "*" ? -1 : total.toLongLong(&okTotal);
    range.valid = okFirst && okLast && okTotal && range.first >= 0 && range.last >= range.first
        && (range.total < 0 || range.last < range.total);
    return range;
}

bool IsStrongEntityTag(const QByteArray &etag)
{
    const QByteArray tag = etag.trimmed();
    return tag.size() >= 2 && tag.startsWith('"') && tag.endsWith('"');
}

bool HasToken(const QByteArray &value, const char *token)
{
    const QList<QByteArray> parts = value.split(',');
    for (const QByteArray &part : parts) {
        if (part.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace kiro
