#pragma once

#include "TextFile.h"

#include <QString>

// A small INI profile store in code page 932 with CR LF lines, in the manner
// of the classic private-profile functions: section and key names match
// without regard to letter case, blanks around a value are not part of it,
// and writing one key keeps every other line of the file as it was.
namespace kiro {

// Reads key from section of the file at path into *value. bufferSize counts
// the terminating NUL of the classic interface, so at most bufferSize - 1
// characters are returned. Returns the number of characters copied; a missing
// file, section or key gives defaultValue (cut the same way).
qint64 GetProfileString(const QString &section, const QString &key,
                        const QString &defaultValue, QString *value,
                        int bufferSize, const QString &path);

// Sets key in section to value, creating the file, the section or the key
// when missing. The file is replaced atomically.
SaveResult WriteProfileString(const QString &section, const QString &key,
                              const QString &value, const QString &path);

} // namespace kiro
