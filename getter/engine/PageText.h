#pragma once

#include <QByteArray>
#include <QString>

namespace kiro {

// The text of a fetched page. The character set is the one the response
// declares (its Content-Type header, then the page's own meta or XML
// declaration); a page that declares none, or whose bytes its declaration
// cannot decode, is taken as whichever of UTF-8, Shift_JIS (code page 932),
// EUC-JP and ISO-2022-JP reads it best. Half a character (an unpaired
// UTF-16 surrogate) reads as U+FFFD.
QString DecodePageText(const QByteArray &body, const QByteArray &contentType);

// The charset parameter of a Content-Type value, lower case; "" when none.
QByteArray CharsetOfContentType(const QByteArray &contentType);

// The charset the page declares in its first bytes, lower case; "" when none.
QByteArray CharsetOfPageHead(const QByteArray &body);

// How much a reading of a page looks like Japanese text rather than misread
// bytes: what decides between Shift_JIS and EUC-JP when both read it.
int JapaneseTextScore(const QString &text);

} // namespace kiro
