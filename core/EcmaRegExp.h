#pragma once

#include <QRegularExpression>
#include <QString>

// The program's patterns are written in ECMAScript syntax. PCRE2 reads them
// alike except for \s, which in ECMAScript also covers no-break and
// ideographic spaces; it is spelled out here. \w is ASCII in both.
namespace kiro {

// The pattern with \s and \S rewritten for PCRE2.
QString EcmaToPcre(const QString &ecmaPattern);

// A case-insensitive expression from an ECMAScript pattern.
QRegularExpression MakeEcmaRegExp(const QString &ecmaPattern);

} // namespace kiro
