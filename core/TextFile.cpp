#include "TextFile.h"

#include <QDir>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cmath>

namespace kiro {

QString DecodeCp932(const QByteArray &bytes)
{
    QStringDecoder decoder("CP932");
    return decoder.decode(bytes);
}

bool EncodeCp932(const QString &text, QByteArray *out)
{
    QStringEncoder encoder("CP932");
    QByteArray bytes = encoder.encode(text);
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

QString TrimSpaces(const QString &s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && s.at(end - 1) == QLatin1Char(' '))
        --end;
    return s.mid(begin, end - begin);
}

qint64 RoundHalfEven(double value)
{
    return qint64(std::nearbyint(value));
}

QChar PathSeparator()
{
    return QDir::separator();
}

} // namespace kiro
