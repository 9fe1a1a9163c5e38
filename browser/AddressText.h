#pragma once

#include <QString>

// Address texts as the browser window compares them. No widgets here.
namespace kiro {

// Replaces percent-escapes in one left-to-right pass; a character produced
// by an escape is never examined again, so "%2541" gives "%41". Escapes
// below %80 become that character one by one. A run of escapes at %80 and
// above that spells a valid UTF-8 character becomes that one character
// ("%E6%97%A5" gives "日"). Every other escape, and a "%" without two
// hexadecimal digits after it, stays as it is.
void DecodePercent(QString &s);

// The folder of an address: up to and including its last "/", or the address
// with "/" appended when its only slashes are those of "http://" or
// "https://" (a bare host).
QString FolderPart(const QString &url);

// Whether a status text names a web address ("HTTP://" or "HTTPS://" in any
// letter case, anywhere in it).
bool ContainsWebAddress(const QString &text);

} // namespace kiro
