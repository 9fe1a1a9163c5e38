#pragma once

#include <QString>
#include <QStringView>

// The scheme of a web address, as every address rule of the program counts
// it: "http://" is 7 characters, and "https://" (any letter case) is 8.
namespace kiro {

// Whether the text begins with "http://" or "https://", in any letter case.
bool StartsWithWebScheme(QStringView address);
bool StartsWithHttps(QStringView address);

// 8 for an address beginning with "https://" (any case), otherwise 7.
int SchemePrefixLength(QStringView address);

// The folder of an address, ending in "/": up to and including its last "/"
// when that lies after the scheme's "//"; otherwise the address followed by
// "/" (a bare host).
QString FolderOf(QStringView address);

// The value of a hexadecimal digit in either letter case (of a "%41" escape
// or a "&#x41;" reference), or -1 for any other character.
int HexDigitValue(QChar c);

// Whether text holds a control character (below U+0020, or U+007F): such an
// address or Referer never goes out, for libcurl would write it as it stands
// and the text could add header lines of its own.
bool HasControlCharacter(QStringView text);

} // namespace kiro
