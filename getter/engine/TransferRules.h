#pragma once

#include <QByteArray>
#include <QtGlobal>

class QUrl;

// The rules by which a transfer decides to try again and to continue a body
// where it was cut.
namespace kiro {

// Tries of one address before the transfer fails.
constexpr int TransferTries = 3;
// A Retry-After longer than this is not waited for: the transfer fails.
constexpr qint64 RetryAfterLimitMs = 30 * 1000;

// 408, 429, 500, 502, 503 and 504: the server may answer later.
bool IsTransientStatus(int status);

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

// The Referer that a request to `to` made from the page `from` carries, as a
// browser's default policy gives it (strict-origin-when-cross-origin): the
// whole address without its fragment and user part for the same origin, the
// origin alone for another one, nothing from https to http or from an address
// that is not http or https. Empty: no Referer.
QByteArray RefererValue(const QUrl &from, const QUrl &to);

// A Content-Length field's value as HTTP/1.1 lets a recipient take it: digits
// only, or a list of the same digits ("5, 5"). -1 for anything else (other
// characters, differing values, a number beyond 2^63 - 1).
qint64 ContentLengthValue(QByteArrayView value);

// Follows the raw body of an answer sent in chunks and tells when its framing
// is one that HTTP/1.1 tells a recipient to refuse, though libcurl reads past
// it: a size line with something other than hex digits and chunk extensions
// ("5 5"). libcurl still does the reading; this only watches.
class ChunkFramingCheck
{
public:
    // Takes the next bytes of the body as they came; false once the framing
    // is refused (and for every call after).
    bool Take(QByteArrayView data);
    void Reset() { *this = ChunkFramingCheck(); }

private:
    enum class State { Size, Extension, SizeEnd, Data, DataEnd, DataEndLf, Trailer, TrailerLf, Done, Refused };
    State m_state = State::Size;
    int m_digits = 0;
    bool m_blank = false;      // a blank after the digits, before any ';'
    qint64 m_left = 0;         // data bytes of the current chunk still to come
    qsizetype m_lineLength = 0;
};

} // namespace kiro
