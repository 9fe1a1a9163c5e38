#pragma once

#include <QByteArray>
#include <QtGlobal>

// The rules by which a transfer decides to try again and to continue a body
// where it was cut.
namespace kiro {

// Tries of one address before the transfer fails.
constexpr int TransferTries = 3;
// A Retry-After longer than this is not waited for: the transfer fails.
constexpr qint64 RetryAfterLimitMs = 30 * 1000;

// 408, 429, 500, 502, 503 and 504: the server may answer later.
bool IsTransientStatus(int status);

// The wait a Retry-After value asks for, in milliseconds from nowSecs (Unix
// time): delay-seconds or an HTTP date (a past one is 0). -1 when the value
// is missing or unreadable.
qint64 RetryAfterMs(const QByteArray &value, qint64 nowSecs);

// The wait before try number `attempt` (2, 3, ...) when the server named
// none: baseMs, then twice as long each time.
qint64 RetryWaitMs(int attempt, qint64 baseMs);

// "bytes FIRST-LAST/TOTAL" of a 206 answer; total is -1 for "*".
struct ContentRange {
    bool valid = false;
    qint64 first = -1;
    qint64 last = -1;
    qint64 total = -1;
};
ContentRange ParseContentRange(const QByteArray &value);

// An entity tag that If-Range may carry (not a weak one).
bool IsStrongEntityTag(const QByteArray &etag);

// Whether a comma-separated header value holds the token, letter case ignored.
bool HasToken(const QByteArray &value, const char *token);

} // namespace kiro
