#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <functional>

// Finding link addresses in the text of a page with regular expressions.
//
// Every match is stored at the next index of the link array, with its spaces
// removed. After each match the hooks pump events, and AbortFlag is looked at:
// when it is 1 the pass reports the stop and ends there, leaving the value just
// stored in place but not counted, and the next pass still starts (its first
// match takes the same slot and ends that pass as well).
namespace kiro {

struct LinkScanHooks {
    std::function<void()> pumpEvents;      // after each stored match
    // Between two passes: a long text without a match lets no event through
    // while a pass runs over it, and two such passes in a row keep a stop
    // request waiting too long.
    std::function<void()> pumpBetweenPasses;
    std::function<void()> reportAborted;   // a pass ended on AbortFlag
    // No link is stored at this index or above: the pass ends there (-1:
    // no bound).
    qsizetype limit = -1;
};

struct LinkScanResult {
    qsizetype count = 0;       // the counter after the passes
    bool matchError = false;   // the engine gave up on the text: links may be missing
    bool limitReached = false; // a pass ended at the hooks' limit
};

// One pass of pattern over text, storing from links[n] upwards. The value of a
// match is the first of valueGroups that took part in it.
LinkScanResult RunLinkPass(const QRegularExpression &pattern, const QList<int> &valueGroups,
                           const QString &text, QStringList &links, qsizetype n,
                           const LinkScanHooks &hooks);

// The src and href values of the page, then the addresses written out in its
// text, stored from links[1] on; the count is one more than the links stored.
// linkRegExp is the window's pattern object: it holds each pass's pattern in turn.
LinkScanResult ExtractPageLinks(QRegularExpression &linkRegExp, const QString &text,
                                QStringList &links, const LinkScanHooks &hooks);

// The src and href values, the first arguments of window.open calls and the
// addresses written out in the text, stored from links[candidateCount] on.
LinkScanResult ExtractFileLinks(QRegularExpression &linkRegExp, const QString &text,
                                QStringList &links, qsizetype candidateCount,
                                const LinkScanHooks &hooks);

// For tests: the passes over a text for which givesUp returns true run under
// the engine's smallest match limit, so that the engine gives up on that text
// as it would on one it cannot handle. No function (the default): every text
// is matched in full.
void SetEngineGivesUpOn(std::function<bool(const QString &text)> givesUp);

// Stores value at index n of list, growing or cutting the list to n + 1 entries.
void StoreAt(QStringList &list, qsizetype n, const QString &value);

} // namespace kiro
