#include "RecordFile.h"

#include "Shared.h"

#include <QFile>

namespace kiro {

QStringList ParseRecordLine(const QString &line)
{
    QStringList fields;
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (true) {
        i += LeadingBlanks(QStringView(line).mid(i));
        if (i < n && line.at(i) == QLatin1Char('"')) {
            const qsizetype close = line.indexOf(QLatin1Char('"'), i + 1);
            if (close < 0) {
                fields.append(line.mid(i + 1));
                break;
            }
            fields.append(line.mid(i + 1, close - i - 1));
            i = close + 1;
            const qsizetype comma = line.indexOf(QLatin1Char(','), i);
            if (comma < 0)
                break;
            i = comma + 1;
        } else {
            const qsizetype comma = line.indexOf(QLatin1Char(','), i);
            const QStringView raw = comma < 0 ? QStringView(line).mid(i)
                                              : QStringView(line).mid(i, comma - i);
            fields.append(TrimBlanks(raw).toString());
            if (comma < 0)
                break;
            i = comma + 1;
        }
    }
    return fields;
}

QList<QStringList> ReadRecordFile(const QString &path, bool *opened)
{
    QList<QStringList> records;
    QFile file(path);
    const bool ok = file.open(QIODevice::ReadOnly);
    if (opened)
        *opened = ok;
    if (!ok)
        return records;
    ++FileNo;
    for (const QByteArray &raw : SplitLines(file.readAll())) {
        const QString line = DecodeCp932(raw);
        if (TrimBlanks(line).isEmpty())
            continue;
        records.append(ParseRecordLine(line));
    }
    return records;
}

SaveResult EncodeRecordFile(const QList<Record> &records, QByteArray *bytes)
{
    QString text;
    for (const Record &record : records) {
        for (qsizetype f = 0; f < record.size(); ++f) {
            if (f > 0)
                text += QLatin1Char(',');
            const RecordField &field = record.at(f);
            if (field.quoted)
                text += QLatin1Char('"') + field.text + QLatin1Char('"');
            else
                text += field.text;
        }
        text += QLatin1String("\r\n");
    }
    return EncodeCp932(text, bytes) ? SaveResult::Ok : SaveResult::Unencodable;
}

SaveResult WriteRecordFile(const QString &path, const QList<Record> &records)
{
    QByteArray bytes;
    const SaveResult result = EncodeRecordFile(records, &bytes);
    if (result != SaveResult::Ok)
        return result;
    ++FileNo;
    return WriteFileAtomically(path, bytes);
}

int RecordNumber(const QStringList &fields, int index)
{
    if (index >= fields.size())
        return 0;
    bool ok = false;
    const int n = TrimBlanks(fields.at(index)).toInt(&ok);
    return ok ? n : 0;
}

QString RecordText(const QStringList &fields, int index)
{
    return index < fields.size() ? fields.at(index) : QString();
}

} // namespace kiro
