#pragma once

#include <QByteArray>
#include <QList>
#include <QFileDevice>
#include <QString>
#include <QStringView>

// The program's files are text in code page 932. Nothing is written that the
// code page cannot hold, and nothing is written half: a file is replaced whole.
namespace kiro {

enum class SaveResult {
    Ok,
    Unencodable,   // the text holds a character code page 932 cannot represent
    IoError,       // the file could not be written or replaced
};

QString DecodeCp932(const QByteArray &bytes);

// Other platforms' input methods type 〜 − — ‖ ¢ £ ¬ where Japanese Windows
// has ～ － ― ∥ ￠ ￡ ￢; code page 932 holds only the latter. The text with
// the former replaced by the latter.
QString FoldForCp932(const QString &text);

// The folded text in code page 932. Returns false (and leaves *out
// undefined) when a character cannot be encoded even so.
bool EncodeCp932(const QString &text, QByteArray *out);
bool IsCp932Encodable(const QString &text);

// Whether text that folding changes is still the same text to its user: a
// name is; a folder path is not, since it would name another folder.
enum class Folding { Allowed, NotAllowed };

// The first character of text that the program's files cannot hold (both
// halves of a pair): a control character, which would break a line or a
// record, or one that code page 932 lacks after folding (or that folding
// would change, where it is not allowed). Empty when there is none.
QString FirstUnstorableCharacter(const QString &text, Folding folding = Folding::Allowed);

// The refusal of a text holding character: "保存できない文字が含まれています。"
// with the character named after it in full-width brackets (a character that
// cannot be seen is named by its code, as U+000A).
QString UnstorableCharacterMessage(const QString &character);

// The lines of a text file without their ends. CR LF, LF and a CR alone
// each end a line; an end at the very end starts no further line.
QList<QByteArray> SplitLines(const QByteArray &bytes);

// Writes bytes to a temporary file beside path, then renames it over path.
SaveResult WriteFileAtomically(const QString &path, const QByteArray &bytes);

struct FileContent {
    QString path;
    QByteArray bytes;
};

// Writes several files that belong together: each is first written whole
// under a temporary name, and only when all of them are does each take its
// real name. A file that cannot be written leaves every file as it was;
// *failedPath names it. (Only a failed rename, after all are written, could
// leave the files renamed before it replaced.)
SaveResult WriteFilesAtomically(const QList<FileContent> &files, QString *failedPath = nullptr);

// The program's two trimming rules. Spaces: U+0020 only, what "removing
// spaces" means wherever the program removes them (addresses, extension
// names, link values, the file list's fill). Blanks: spaces and tabs, what the
// profile and record readers drop around names, values and fields, and what
// is ignored around a number.
QStringView TrimSpaces(QStringView s);
QString TrimSpaces(const QString &s);   // shares s when there is nothing to trim
qsizetype LeadingSpaces(QStringView s);
qsizetype TrailingSpaces(QStringView s);
QStringView TrimBlanks(QStringView s);
qsizetype LeadingBlanks(QStringView s);

// Rounds to the nearest whole number, a half to the even neighbour.
qint64 RoundHalfEven(double value);

// The folder separator of this platform's paths.
QChar PathSeparator();

// The permissions a new file of the user's gets: read and write for all, less
// what the process's umask (as it was at the first call) takes away.
QFileDevice::Permissions NewFilePermissions();

} // namespace kiro
