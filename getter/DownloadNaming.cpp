#include "DownloadNaming.h"

#include "core/TextFile.h"

#include <QCryptographicHash>
#include <QStringView>

#include <limits>

namespace kiro {

namespace {

// The longest name the file systems take: 255 bytes of UTF-8 on Linux,
// 255 UTF-16 units on Windows.
constexpr qsizetype MaxNameLength = 255;

qsizetype NameLength(QStringView name)
{
#ifdef Q_OS_WIN
    return name.size();
#else
    return name.toUtf8().size();
#endif
}

bool IsForbidden(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x20 || u == 0x7F)
        return true;
    switch (u) {
    case u'\\': case u'/': case u':': case u'*': case u'?':
    case u'"': case u'<': case u'>': case u'|':
        return true;
    default:
        return false;
    }
}

bool IsReservedOnWindows(const QString &name)
{
    // Windows takes "con.jpg" and "CON .tar.gz" for the device as well.
    QString stem = name.left(name.indexOf(QLatin1Char('.'))).toUpper();
    while (stem.endsWith(QLatin1Char(' ')))
        stem.chop(1);
    if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL")
        return true;
    return stem.size() == 4 && (stem.startsWith(u"COM") || stem.startsWith(u"LPT"))
           && stem.at(3) >= QLatin1Char('1') && stem.at(3) <= QLatin1Char('9');
}

// Cuts s to at most maxLength (as NameLength counts) without splitting a
// character.
QString CutToLength(const QString &s, qsizetype maxLength)
{
    qsizetype end = s.size();
    while (end > 0 && NameLength(QStringView(s).left(end)) > maxLength) {
        --end;
        if (end > 0 && s.at(end).isLowSurrogate() && s.at(end - 1).isHighSurrogate())
            --end;
    }
    return s.left(end);
}

QString Shorten(const QString &name)
{
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
    const QString marker = QLatin1Char('~') + hash;

    QString stem = name;
    QString extension;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) {
        const QString candidate = name.mid(dot);
        // An "extension" that would leave no room for a stem is not kept.
        if (NameLength(candidate) + marker.size() < MaxNameLength) {
            stem = name.left(dot);
            extension = candidate;
        }
    }
    const qsizetype room = MaxNameLength - marker.size() - NameLength(extension);
    return CutToLength(stem, room) + marker + extension;
}

QString UnderscoreSlashesAndDots(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text)
        out.append(c == QLatin1Char('/') || c == QLatin1Char('.') ? QLatin1Char('_') : c);
    return out;
}

} // namespace

int SchemeLength(const QString &url)
{
    return url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) ? 8 : 7;
}

QString SafeName(const QString &name)
{
    QString safe = name;
    for (QChar &c : safe) {
        if (IsForbidden(c))
            c = QLatin1Char('_');
    }
    if (!safe.isEmpty() && safe.count(QLatin1Char('.')) == safe.size())
        safe.fill(QLatin1Char('_'));
    if (IsReservedOnWindows(safe))
        safe.prepend(QLatin1Char('_'));
    if (NameLength(safe) > MaxNameLength)
        safe = Shorten(safe);
    return safe;
}

QString DownloadSubDirName(const QString &baseUrl)
{
    const QString name = SafeName(UnderscoreSlashesAndDots(QStringView(baseUrl).mid(SchemeLength(baseUrl))));
    // An empty name would put the files straight into the download folder.
    return name.isEmpty() ? QStringLiteral("_") : name;
}

QString UrlPrefixFor(const QString &fileUrl)
{
    const qsizetype slash = fileUrl.lastIndexOf(QLatin1Char('/'));
    const int skip = SchemeLength(fileUrl);
    if (slash <= skip)
        return QString();
    return UnderscoreSlashesAndDots(QStringView(fileUrl).mid(skip, slash - skip));
}

QString SaveNameFor(const QString &fileUrl, int chkFileName)
{
    const qsizetype slash = fileUrl.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    QString name = fileUrl.mid(slash + 1);
    if (name.isEmpty())
        return QString();
    if (chkFileName == 1)
        name = UrlPrefixFor(fileUrl) + QLatin1Char('@') + name;
    return SafeName(name);
}

QString JoinPath(const QString &folder, const QString &name)
{
    const QChar separator = PathSeparator();
    if (folder.endsWith(separator) || folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + separator + name;
}

QString FileItemResultText(const QString &oldText, const QString &result)
{
    QString text = oldText.leftJustified(FileItemTextWidth, QLatin1Char(' '), true);
    // Half a surrogate pair would show as a broken character.
    if (text.at(FileItemTextWidth - 1).isHighSurrogate())
        text[FileItemTextWidth - 1] = QLatin1Char(' ');
    return text + QLatin1Char(' ') + result;
}

QString KilobyteText(qint64 receivedBytes)
{
    return QString::number(RoundHalfEven(double(receivedBytes) / 1024.0 + 0.5))
           + QLatin1String("kb");
}

bool IsAboveThreshold(qint64 grhkb, qint64 receivedBytes)
{
    if (grhkb > std::numeric_limits<qint64>::max() / 1024)
        return false;
    if (grhkb < std::numeric_limits<qint64>::min() / 1024)
        return true;
    return grhkb * 1024 < receivedBytes;
}

} // namespace kiro
