#include "FavoritesFile.h"

#include "core/RecordFile.h"

#include <QUrl>

#include <algorithm>

namespace kiro {

QList<Favorite> ReadFavorites(const QString &path, bool *opened)
{
    QList<Favorite> favorites;
    const QList<QStringList> records = ReadRecordFile(path, opened);
    favorites.reserve(records.size());
    for (const QStringList &fields : records)
        favorites.append({RecordText(fields, 0), RecordText(fields, 1)});
    return favorites;
}

SaveResult WriteFavorites(const QString &path, const QList<Favorite> &favorites)
{
    QList<Record> records;
    records.reserve(favorites.size());
    for (const Favorite &f : favorites)
        records.append({RecordField::Text(f.name), RecordField::Text(f.entry)});
    return WriteRecordFile(path, records);
}

QString MakeFavoriteEntry(const QString &name, const QString &address)
{
    return name + FavoriteSeparator + address;
}

QString FavoriteAddress(const QString &entry)
{
    const qsizetype at = entry.indexOf(FavoriteSeparator);
    return at < 0 ? QString() : entry.mid(at + FavoriteSeparator.size());
}

QString EncodeFavoriteAddress(const QString &address)
{
    const QUrl url(address, QUrl::TolerantMode);
    if (url.isValid() || address.isEmpty())
        return QString::fromLatin1(url.toEncoded());
    // Text QUrl cannot take as an address is still kept, escaped the same way.
    return QString::fromLatin1(QUrl::toPercentEncoding(address, "!#$&'()*+,/:;=?@[]~%"));
}

QString FavoriteNameProblem(const QString &name)
{
    if (name.contains(QLatin1Char('"')) || name.contains(FavoriteSeparator))
        return QStringLiteral("名前に「\"」や「@@」は使用できません。");
    const QString unstorable = FirstUnstorableCharacter(name);
    return unstorable.isEmpty() ? QString() : UnstorableCharacterMessage(unstorable);
}


} // namespace kiro
