#include "TransferRules.h"

#include <QList>
#include <QUrl>

#include <algorithm>
#include <limits>


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

QByteArray RefererValue(const QUrl &from, const QUrl &to)
{
    const auto isWeb = [](const QUrl &url) {
        const QString scheme = url.scheme().toLower();
        return (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
            && !url.host().isEmpty();
    };
    if (!from.isValid() || !isWeb(from) || !isWeb(to))
        return QByteArray();
    const QString fromScheme = from.scheme().toLower();
    const QString toScheme = to.scheme().toLower();
    if (fromScheme == QLatin1String("https") && toScheme == QLatin1String("http"))
        return QByteArray();
    const int defaultPort = fromScheme == QLatin1String("https") ? 443 : 80;
    const bool sameOrigin = fromScheme == toScheme
        && from.host().compare(to.host(), Qt::CaseInsensitive) == 0
        && from.port(defaultPort) == to.port(toScheme == QLatin1String("https") ? 443 : 80);
    if (sameOrigin)
        return from.adjusted(QUrl::RemoveFragment | QUrl::RemoveUserInfo).toEncoded();
    return from.adjusted(QUrl::RemoveFragment | QUrl::RemoveUserInfo | QUrl::RemovePath
                         | QUrl::RemoveQuery).toEncoded() + '/';
}

qint64 ContentLengthValue(QByteArrayView value)
{
    qint64 result = -1;
    qsizetype at = 0;
    const qsizetype size = value.size();
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (true) {
        while (at < size && isBlank(value[at]))
            ++at;
        const qsizetype start = at;
        qint64 n = 0;
        while (at < size && value[at] >= '0' && value[at] <= '9') {
            const int digit = value[at] - '0';
            if (n > (std::numeric_limits<qint64>::max() - digit) / 10)
                return -1;
            n = n * 10 + digit;
            ++at;
        }
        if (at == start || (result >= 0 && n != result))
            return -1;
        result = n;
        while (at < size && isBlank(value[at]))
            ++at;
        if (at == size)
            return result;
        if (value[at] != ',')
            return -1;
        ++at;
    }
}

namespace {

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c)
{
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// A size line or a trailer line longer than this is not a server's.
constexpr qsizetype LineLimit = 64 * 1024;

} // namespace

bool ChunkFramingCheck::Take(QByteArrayView data)
{
    const auto Refuse = [this] {
        m_state = State::Refused;
        return false;
    };
    qsizetype i = 0;
    const qsizetype size = data.size();
    while (i < size) {
        const char c = data[i];
        switch (m_state) {
        case State::Size:
            if (IsHexDigit(c) && !m_blank) {
                // Sixteen digits already make a size no body reaches.
                if (++m_digits > 15)
                    return Refuse();
                m_left = m_left * 16 + HexValue(c);
            } else if (m_digits > 0 && (c == ' ' || c == '\t')) {
                m_blank = true;
            } else if (m_digits > 0 && c == ';') {
                m_state = State::Extension;
            } else if (m_digits > 0 && c == '\r') {
                m_state = State::SizeEnd;
            } else {
                return Refuse();
            }
            ++i;
            break;
        case State::Extension:
            if (c == '\r')
                m_state = State::SizeEnd;
            else if (c == '\n' || ++m_lineLength > LineLimit)
                return Refuse();
            ++i;
            break;
        case State::SizeEnd:
            if (c != '\n')
                return Refuse();
            ++i;
            // A size of 0 is the last chunk: the trailer follows.
            m_state = m_left == 0 ? State::Trailer : State::Data;
            m_lineLength = 0;
            break;
        case State::Data: {
            const qint64 take = std::min<qint64>(m_left, size - i);
            i += qsizetype(take);
            m_left -= take;
            if (m_left == 0)
                m_state = State::DataEnd;
            break;
        }
        case State::DataEnd:
        case State::DataEndLf:
            if (c != (m_state == State::DataEnd ? '\r' : '\n'))
                return Refuse();
            ++i;
            if (m_state == State::DataEnd) {
                m_state = State::DataEndLf;
            } else {
                m_state = State::Size;
                m_digits = 0;
                m_blank = false;
                m_lineLength = 0;
            }
            break;
        case State::Trailer:
            // Trailer lines up to an empty one; libcurl reads their fields.
            if (c == '\r') {
                m_state = State::TrailerLf;
            } else if (c == '\n' || ++m_lineLength > LineLimit) {
                return Refuse();
            }
            ++i;
            break;
        case State::TrailerLf:
            if (c != '\n')
                return Refuse();
            ++i;
            m_state = m_lineLength == 0 ? State::Done : State::Trailer;
            m_lineLength = 0;
            break;
        case State::Done:
            // Whatever follows belongs to no answer of this request.
            return true;
        case State::Refused:
            return false;
        }
    }
    return true;
}

} // namespace kiro
