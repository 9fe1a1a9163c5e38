#include "TextFile.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cmath>
#include <memory>
#include <vector>

namespace kiro {

QString DecodeCp932(const QByteArray &bytes)
{
    QStringDecoder decoder("CP932");
    return decoder.decode(bytes);
}

namespace {

char16_t FoldedForCp932(char16_t c)
{
    switch (c) {
    case u'\u301C': return u'\uFF5E';   // wave dash → full-width tilde
    case u'\u2212': return u'\uFF0D';   // minus sign → full-width hyphen-minus
    case u'\u2014': return u'\u2015';   // em dash → horizontal bar
    case u'\u2016': return u'\u2225';   // double vertical line → parallel to
    case u'\u00A2': return u'\uFFE0';   // cent sign
    case u'\u00A3': return u'\uFFE1';   // pound sign
    case u'\u00AC': return u'\uFFE2';   // not sign
    default: return c;
    }
}

bool IsControl(char16_t c)
{
    return c < 0x20 || c == 0x7F;
}

} // namespace

QString FoldForCp932(const QString &text)
{
    QString folded = text;
    for (qsizetype i = 0; i < folded.size(); ++i) {
        const char16_t c = folded.at(i).unicode();
        const char16_t f = FoldedForCp932(c);
        if (f != c)
            folded[i] = QChar(f);
    }
    return folded;
}

bool EncodeCp932(const QString &text, QByteArray *out)
{
    // The encoder writes half a character as "?" without telling.
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            return false;
    }
    QStringEncoder encoder("CP932");
    QByteArray bytes = encoder.encode(FoldForCp932(text));
    if (encoder.hasError())
        return false;
    *out = std::move(bytes);
    return true;
}

bool IsCp932Encodable(const QString &text)
{
    QByteArray ignored;
    return EncodeCp932(text, &ignored);
}

QString FirstUnstorableCharacter(const QString &text, Folding folding)
{
    // The common case costs one encoding of the whole text.
    bool anyControl = false;
    bool anyFolded = false;
    for (const QChar c : text) {
        anyControl = anyControl || IsControl(c.unicode());
        anyFolded = anyFolded || FoldedForCp932(c.unicode()) != c.unicode();
    }
    if (!anyControl && (folding == Folding::Allowed || !anyFolded) && IsCp932Encodable(text))
        return QString();

    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text.at(i).isHighSurrogate() && i + 1 < text.size()
                && text.at(i + 1).isLowSurrogate();
        const QString character = text.mid(i, pair ? 2 : 1);
        const char16_t c = text.at(i).unicode();
        if (IsControl(c) || (folding == Folding::NotAllowed && FoldedForCp932(c) != c)
            || !IsCp932Encodable(character))
            return character;
        if (pair)
            ++i;
    }
    return QString();
}

QString UnstorableCharacterMessage(const QString &character)
{
    const char32_t code = character.size() == 2 ? QChar::surrogateToUcs4(character.at(0), character.at(1))
                                                 : char32_t(character.isEmpty() ? 0 : character.at(0).unicode());
    const bool visible = !character.isEmpty() && character.at(0).isPrint() && !character.at(0).isSpace()
            && !character.at(0).isSurrogate();
    const QString named = visible || character.size() == 2
            ? character
            : QStringLiteral("U+%1").arg(quint32(code), 4, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("保存できない文字が含まれています。（") + named + QStringLiteral("）");
}

QList<QByteArray> SplitLines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c != '\r' && c != '\n')
            continue;
        lines.append(bytes.mid(start, i - start));
        if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        lines.append(bytes.mid(start));
    return lines;
}

SaveResult WriteFileAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return SaveResult::IoError;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return SaveResult::IoError;
    }
    return file.commit() ? SaveResult::Ok : SaveResult::IoError;
}

SaveResult WriteFilesAtomically(const QList<FileContent> &files, QString *failedPath)
{
    std::vector<std::unique_ptr<QSaveFile>> written;
    for (const FileContent &content : files) {
        auto file = std::make_unique<QSaveFile>(content.path);
        if (!file->open(QIODevice::WriteOnly) || file->write(content.bytes) != content.bytes.size()) {
            if (failedPath)
                *failedPath = content.path;
            return SaveResult::IoError;   // the temporary files go with their objects
        }
        written.push_back(std::move(file));
    }
    for (qsizetype i = 0; i < qsizetype(written.size()); ++i) {
        if (!written.at(i)->commit()) {
            if (failedPath)
                *failedPath = files.at(i).path;
            return SaveResult::IoError;
        }
    }
    return SaveResult::Ok;
}

namespace {

bool IsSpace(QChar c)
{
    return c == QLatin1Char(' ');
}

bool IsBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

template <typename Pred>
qsizetype CountLeading(QStringView s, Pred pred)
{
    qsizetype n = 0;
    while (n < s.size() && pred(s.at(n)))
        ++n;
    return n;
}

template <typename Pred>
qsizetype CountTrailing(QStringView s, Pred pred)
{
    qsizetype n = 0;
    while (n < s.size() && pred(s.at(s.size() - 1 - n)))
        ++n;
    return n;
}

template <typename Pred>
QStringView Trim(QStringView s, Pred pred)
{
    const qsizetype begin = CountLeading(s, pred);
    return s.mid(begin, s.size() - begin - CountTrailing(s.mid(begin), pred));
}

} // namespace

QStringView TrimSpaces(QStringView s)
{
    return Trim(s, IsSpace);
}

QString TrimSpaces(const QString &s)
{
    const QStringView trimmed = TrimSpaces(QStringView(s));
    return trimmed.size() == s.size() ? s : trimmed.toString();
}

qsizetype LeadingSpaces(QStringView s)
{
    return CountLeading(s, IsSpace);
}

qsizetype TrailingSpaces(QStringView s)
{
    return CountTrailing(s, IsSpace);
}

QStringView TrimBlanks(QStringView s)
{
    return Trim(s, IsBlank);
}

qsizetype LeadingBlanks(QStringView s)
{
    return CountLeading(s, IsBlank);
}

qint64 RoundHalfEven(double value)
{
    return qint64(std::nearbyint(value));
}

QChar PathSeparator()
{
    return QDir::separator();
}

namespace {

// Linux tells the mask without changing it; setting it to read it back would
// race with any other thread that creates a file meanwhile.
mode_t CurrentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = status.readAll().split('\n');
        for (const QByteArray &line : lines) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask);
            }
        }
    }
    const mode_t old = ::umask(0);
    ::umask(old);
    return old;
}

} // namespace

QFileDevice::Permissions NewFilePermissions()
{
    // A program's mask is set before it starts; reading it costs more than
    // writing a small file, so it is read once.
    static const mode_t mask = CurrentUmask();
    const auto unless = [](mode_t bit, QFileDevice::Permissions permission) {
        return (mask & bit) ? QFileDevice::Permissions() : permission;
    };
    return unless(S_IRUSR, QFileDevice::ReadOwner | QFileDevice::ReadUser)
         | unless(S_IWUSR, QFileDevice::WriteOwner | QFileDevice::WriteUser)
         | unless(S_IRGRP, QFileDevice::ReadGroup) | unless(S_IWGRP, QFileDevice::WriteGroup)
         | unless(S_IROTH, QFileDevice::ReadOther) | unless(S_IWOTH, QFileDevice::WriteOther);
}

} // namespace kiro
