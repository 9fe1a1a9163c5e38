#include "DownloadNaming.h"

#include "core/TextFile.h"
#include "core/WebAddress.h"

#include <QCryptographicHash>
#include <QStringView>

#include <algorithm>
#include <limits>

namespace kiro {

namespace {

// The longest name the file systems take: 255 bytes of UTF-8 on Linux,
// 255 UTF-16 units on Windows.
constexpr qsizetype MaxNameLength = 255;

// What the file system's encoding writes for the character that starts at i,
// and how many UTF-16 units that character takes. Names hold no unpaired
// surrogate by the time they are measured (SafeName replaces them); one would
// be written as the three bytes of U+FFFD.
struct EncodedChar {
    qsizetype bytes;
    qsizetype units;
};

EncodedChar EncodedCharAt(QStringView s, qsizetype i)
{
    const char16_t c = s.at(i).unicode();
    const bool pair = QChar::isHighSurrogate(c) && i + 1 < s.size() && s.at(i + 1).isLowSurrogate();
#ifdef Q_OS_WIN
    return {pair ? 2 : 1, pair ? 2 : 1};
#else
    if (pair)
        return {4, 2};
    return {c < 0x80 ? 1 : c < 0x800 ? 2 : 3, 1};
#endif
}

// The name's length, counted only as far as it takes to exceed limit: a
// name of a million characters is known to be too long after 256 of them.
qsizetype NameLength(QStringView name, qsizetype limit = std::numeric_limits<qsizetype>::max())
{
    qsizetype length = 0;
    for (qsizetype i = 0; i < name.size() && length <= limit;) {
        const EncodedChar e = EncodedCharAt(name, i);
        length += e.bytes;
        i += e.units;
    }
    return length;
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
    qsizetype stemEnd = name.indexOf(QLatin1Char('.'));
    if (stemEnd < 0)
        stemEnd = name.size();
    stemEnd -= TrailingSpaces(QStringView(name).left(stemEnd));
    if (stemEnd < 3 || stemEnd > 4)
        return false;
    const QString stem = name.left(stemEnd).toUpper();
    if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL")
        return true;
    return stem.size() == 4 && (stem.startsWith(u"COM") || stem.startsWith(u"LPT"))
           && stem.at(3) >= QLatin1Char('1') && stem.at(3) <= QLatin1Char('9');
}

// The SHA-1 of the name's UTF-16 code units, little-endian: the same on
// every machine, and cheaper on a huge name than its UTF-8 form.
QByteArray NameHash(QStringView name)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    hash.addData(QByteArrayView(reinterpret_cast<const char *>(name.utf16()), name.size() * 2));
#else
    QByteArray piece;
    for (const QChar c : name) {
        piece.append(char(c.unicode() & 0xff));
        piece.append(char(c.unicode() >> 8));
    }
    hash.addData(piece);
#endif
    return hash.result();
}

// The longest start of s that takes at most maxLength (as NameLength counts)
// without splitting a character.
QString CutToLength(QStringView s, qsizetype maxLength)
{
    qsizetype length = 0;
    qsizetype end = 0;
    while (end < s.size()) {
        const EncodedChar e = EncodedCharAt(s, end);
        if (length + e.bytes > maxLength)
            break;
        length += e.bytes;
        end += e.units;
    }
    return s.left(end).toString();
}

QString Shorten(const QString &name)
{
    const QString hash = QString::fromLatin1(NameHash(name).toHex().left(8));
    const QString marker = QLatin1Char('~') + hash;

    // Views: of a huge name only the kept start is ever copied.
    QStringView stem = name;
    QStringView extension;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) {
        const QStringView candidate = QStringView(name).mid(dot);
        // An "extension" that would leave no room for a stem is not kept.
        if (NameLength(candidate, MaxNameLength) + marker.size() < MaxNameLength) {
            stem = QStringView(name).left(dot);
            extension = candidate;
        }
    }
    const qsizetype room = MaxNameLength - marker.size() - NameLength(extension);
    return CutToLength(stem, room) + marker + extension;
}

// Writes the text with each "/" and "." as "_" from to on; returns the end.
char16_t *WriteUnderscored(QStringView text, char16_t *to)
{
    for (const QChar c : text)
        *to++ = c == QLatin1Char('/') || c == QLatin1Char('.') ? u'_' : c.unicode();
    return to;
}

QString UnderscoreSlashesAndDots(QStringView text)
{
    QString out(text.size(), Qt::Uninitialized);
    WriteUnderscored(text, reinterpret_cast<char16_t *>(out.data()));
    return out;
}

// The part of a file's address that UrlPrefixFor turns into the name's prefix.
QStringView PrefixFolder(const QString &fileUrl)
{
    const qsizetype slash = fileUrl.lastIndexOf(QLatin1Char('/'));
    const int skip = SchemePrefixLength(fileUrl);
    if (slash <= skip)
        return QStringView();
    return QStringView(fileUrl).mid(skip, slash - skip);
}

} // namespace

QString SafeName(QString name)
{
    QString safe = std::move(name);
    // Read from the text as it came, write into safe's own buffer, taken at
    // the first change (a copy only when the caller still shares the text):
    // a name of a million characters is mostly one pass over its units.
    const char16_t *in = reinterpret_cast<const char16_t *>(safe.utf16());
    const qsizetype size = safe.size();
    char16_t *out = nullptr;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = in[i];
        if (c >= 0x80 && !QChar::isSurrogate(c))
            continue;
        if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(in[i + 1])) {
            ++i;
        } else if (IsForbidden(QChar(c)) || QChar::isSurrogate(c)) {   // half a character has no name
            if (!out)
                out = reinterpret_cast<char16_t *>(safe.data());
            out[i] = u'_';
        }
    }
    if (safe.startsWith(QLatin1Char('.')) && safe.count(QLatin1Char('.')) == safe.size())
        safe.fill(QLatin1Char('_'));
    if (IsReservedOnWindows(safe))
        safe.prepend(QLatin1Char('_'));
    if (NameLength(safe, MaxNameLength) > MaxNameLength)
        safe = Shorten(safe);
    return safe;
}

QString DownloadSubDirName(const QString &baseUrl)
{
    // A fragment is the page's own business (an anchor, or a token handed to
    // its scripts): it names no folder.
    QStringView page(baseUrl);
    const qsizetype fragment = page.indexOf(QLatin1Char('#'));
    if (fragment >= 0)
        page.truncate(fragment);
    const QString name = SafeName(UnderscoreSlashesAndDots(page.mid(SchemePrefixLength(baseUrl))));
    // An empty name would put the files straight into the download folder.
    return name.isEmpty() ? QStringLiteral("_") : name;
}

QString UrlPrefixFor(const QString &fileUrl)
{
    return UnderscoreSlashesAndDots(PrefixFolder(fileUrl));
}

QString SaveNameFor(const QString &fileUrl, int chkFileName)
{
    const qsizetype slash = fileUrl.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    const QStringView tail = QStringView(fileUrl).mid(slash + 1);
    if (tail.isEmpty())
        return QString();
    if (chkFileName != 1)
        return SafeName(tail.toString());
    // The prefix, "@" and the name written once into their final place.
    const QStringView folder = PrefixFolder(fileUrl);
    QString name(folder.size() + 1 + tail.size(), Qt::Uninitialized);
    char16_t *to = WriteUnderscored(folder, reinterpret_cast<char16_t *>(name.data()));
    *to++ = u'@';
    std::copy(tail.utf16(), tail.utf16() + tail.size(), to);
    return SafeName(std::move(name));
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

FileItemParts SplitFileItemText(const QString &text, bool hasResult)
{
    if (!hasResult)
        return {text, QString()};
    QString address = text.left(FileItemTextWidth);
    address.chop(TrailingSpaces(address));
    return {address, text.mid(FileItemTextWidth + 1)};
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
