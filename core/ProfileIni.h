#pragma once

#include "TextFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A small INI profile store in code page 932 with CR LF lines, in the manner
// of the classic private-profile functions: section and key names match
// without regard to letter case, blanks around a value are not part of it,
// and writing one key keeps every other line of the file as it was. Read, a
// line may also end in LF or a CR alone; written, every line ends in CR LF.
namespace kiro {

// Reads key from section of the file at path into *value. bufferSize counts
// the terminating NUL of the classic interface, so at most bufferSize - 1
// characters are returned. Returns the number of characters copied; a missing
// file, section or key gives defaultValue (cut the same way).
qint64 GetProfileString(const QString &section, const QString &key,
                        const QString &defaultValue, QString *value,
                        int bufferSize, const QString &path);

struct ProfileValue {
    QString key;
    QString value;
};

// The file at path as it reads after setting each key of section to its
// value: a key already there is set where it stands (its first occurrence,
// the one the reader takes), a missing one is added at the end of the
// section, a missing section at the end of the file. Every other line stays
// as it was, byte for byte. A missing file reads as empty.
SaveResult ProfileWithValues(const QString &section, const QList<ProfileValue> &values,
                             const QString &path, QByteArray *bytes);

// Sets the keys of section to their values in one replacement of the file.
SaveResult WriteProfileStrings(const QString &section, const QList<ProfileValue> &values,
                               const QString &path);
SaveResult WriteProfileString(const QString &section, const QString &key,
                              const QString &value, const QString &path);

} // namespace kiro
