#include "ProfileIni.h"

#include <QFile>
#include <QList>

namespace kiro {

namespace {

// Lines of the file as raw bytes, without their line ends, so that lines we do
// not touch are written back byte for byte.
QList<QByteArray> ReadLines(const QString &path, bool *exists)
{
    QFile file(path);
    *exists = file.open(QIODevice::ReadOnly);
    if (!*exists)
        return {};
    return SplitLines(file.readAll());
}

// The section name of a "[name]" line, or a null string for other lines.
QString SectionName(const QString &line)
{
    const QStringView t = TrimBlanks(line);
    if (!t.startsWith(QLatin1Char('[')))
        return {};
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    return TrimBlanks(close < 0 ? t.mid(1) : t.mid(1, close - 1)).toString();
}

bool SplitKeyLine(const QString &line, QString *key, QString *value)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    const QStringView k = TrimBlanks(QStringView(line).left(eq));
    if (k.isEmpty() || k.startsWith(QLatin1Char(';')))
        return false;
    *key = k.toString();
    *value = TrimBlanks(QStringView(line).mid(eq + 1)).toString();
    return true;
}

bool SameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

qint64 GetProfileString(const QString &section, const QString &key,
                        const QString &defaultValue, QString *value,
                        int bufferSize, const QString &path)
{
    const int limit = qMax(0, bufferSize - 1);
    QString found = defaultValue;
    bool exists = false;
    const QList<QByteArray> lines = ReadLines(path, &exists);
    bool inSection = false;
    for (const QByteArray &raw : lines) {
        const QString line = DecodeCp932(raw);
        const QString name = SectionName(line);
        if (!name.isNull()) {
            inSection = SameName(name, section);
            continue;
        }
        QString k, v;
        if (inSection && SplitKeyLine(line, &k, &v) && SameName(k, key)) {
            found = v;
            break;
        }
    }
    *value = found.left(limit);
    return value->size();
}

SaveResult ProfileWithValues(const QString &section, const QList<ProfileValue> &values,
                             const QString &path, QByteArray *bytes)
{
    QList<QByteArray> newLines;
    for (const ProfileValue &v : values) {
        QByteArray line;
        if (!EncodeCp932(v.key + QLatin1Char('=') + v.value, &line))
            return SaveResult::Unencodable;
        newLines.append(line);
    }

    bool exists = false;
    QList<QByteArray> lines = ReadLines(path, &exists);
    qsizetype sectionAt = -1;    // line of the section header
    qsizetype sectionEnd = -1;   // one past the last key line of the section
    QList<qsizetype> keyAt(values.size(), -1);
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = DecodeCp932(lines.at(i));
        const QString name = SectionName(line);
        if (!name.isNull()) {
            if (inSection)
                break;
            inSection = SameName(name, section);
            if (inSection) {
                sectionAt = i;
                sectionEnd = i + 1;
            }
            continue;
        }
        if (!inSection)
            continue;
        QString k, v;
        if (!SplitKeyLine(line, &k, &v))
            continue;
        sectionEnd = i + 1;
        for (qsizetype n = 0; n < values.size(); ++n) {
            if (keyAt.at(n) < 0 && SameName(k, values.at(n).key)) {
                keyAt[n] = i;
                break;
            }
        }
    }

    QList<QByteArray> added;
    for (qsizetype n = 0; n < values.size(); ++n) {
        if (keyAt.at(n) >= 0)
            lines[keyAt.at(n)] = newLines.at(n);
        else
            added.append(newLines.at(n));
    }
    if (sectionAt >= 0) {
        for (qsizetype n = 0; n < added.size(); ++n)
            lines.insert(sectionEnd + n, added.at(n));
    } else if (!added.isEmpty()) {
        QByteArray header;
        if (!EncodeCp932(QLatin1Char('[') + section + QLatin1Char(']'), &header))
            return SaveResult::Unencodable;
        lines.append(header);
        lines.append(added);
    }

    bytes->clear();
    for (const QByteArray &line : std::as_const(lines))
        *bytes += line + "\r\n";
    return SaveResult::Ok;
}

SaveResult WriteProfileStrings(const QString &section, const QList<ProfileValue> &values,
                               const QString &path)
{
    QByteArray bytes;
    const SaveResult result = ProfileWithValues(section, values, path, &bytes);
    return result == SaveResult::Ok ? WriteFileAtomically(path, bytes) : result;
}

SaveResult WriteProfileString(const QString &section, const QString &key,
                              const QString &value, const QString &path)
{
    return WriteProfileStrings(section, {{key, value}}, path);
}

} // namespace kiro
