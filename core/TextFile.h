#pragma once

#include <QByteArray>
#include <QString>

// The program's files are text in code page 932. Nothing is written that the
// code page cannot hold, and nothing is written half: a file is replaced whole.
namespace kiro {

enum class SaveResult {
    Ok,
    Unencodable,   // the text holds a character code page 932 cannot represent
    IoError,       // the file could not be written or replaced
};

QString DecodeCp932(const QByteArray &bytes);
// Returns false (and leaves *out undefined) when a character cannot be encoded.
bool EncodeCp932(const QString &text, QByteArray *out);
bool IsCp932Encodable(const QString &text);

// Writes bytes to a temporary file beside path, then renames it over path.
SaveResult WriteFileAtomically(const QString &path, const QByteArray &bytes);

// Removes leading and trailing space characters (U+0020) only.
QString TrimSpaces(const QString &s);

// Rounds to the nearest whole number, a half to the even neighbour.
qint64 RoundHalfEven(double value);

// The folder separator of this platform's paths.
QChar PathSeparator();

} // namespace kiro
