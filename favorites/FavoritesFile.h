#pragma once

#include "core/TextFile.h"

#include <QList>
#include <QString>
#include <QStringList>

// Fav.fil: one CR LF line per favorite, "name","name@@address", in the order
// of the favorites list and in code page 932.
namespace kiro {

struct Favorite {
    QString name;
    QString entry;   // name + "@@" + address
};

inline const QString FavoriteSeparator = QStringLiteral("@@");

// Every favorite of the file in file order; a missing or unreadable file gives
// none and *opened false. A line with one field gets an empty entry.
QList<Favorite> ReadFavorites(const QString &path, bool *opened = nullptr);

// Replaces the file atomically; an empty list leaves a zero-byte file.
SaveResult WriteFavorites(const QString &path, const QList<Favorite> &favorites);

QString MakeFavoriteEntry(const QString &name, const QString &address);

// The text after the first "@@" of the entry; an entry without "@@" holds no
// address and gives "".
QString FavoriteAddress(const QString &entry);

// The form an address is stored in: percent-encoded, so plain ASCII without
// double quotes, and still the same page when loaded.
QString EncodeFavoriteAddress(const QString &address);

// Why a name cannot be stored, as the message the add dialog shows; "" when
// it can. A double quote or "@@" would break the record when read back;
// control characters would split it; some characters have no code page 932
// form.
QString FavoriteNameProblem(const QString &name);

} // namespace kiro
