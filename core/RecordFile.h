#pragma once

#include "TextFile.h"

#include <QList>
#include <QString>
#include <QStringList>

// The record files (Extsn.fil, Fav.fil): one record per CR LF line, fields
// separated by commas, text fields between double quotes (no escape) and
// numbers bare, in code page 932.
namespace kiro {

struct RecordField {
    QString text;
    bool quoted = true;

    static RecordField Text(const QString &s) { return {s, true}; }
    static RecordField Number(qint64 n) { return {QString::number(n), false}; }
};

using Record = QList<RecordField>;

// Reads every record of the file; a missing file gives none. A line may also
// end in LF or a CR alone. A quoted field
// runs to the next double quote; a bare field runs to the next comma or line
// end without its surrounding blanks. A malformed line is read as far as it
// goes and never stops the lines after it. Blank lines hold no record.
QList<QStringList> ReadRecordFile(const QString &path, bool *opened = nullptr);

// Parses one line the same way.
QStringList ParseRecordLine(const QString &line);

// The records as the file holds them. Text that code page 932 cannot hold
// (after folding) gives SaveResult::Unencodable.
SaveResult EncodeRecordFile(const QList<Record> &records, QByteArray *bytes);

// Writes the records, replacing the file atomically; on Unencodable nothing
// is written.
SaveResult WriteRecordFile(const QString &path, const QList<Record> &records);

// The record's field as a number; text that is not a number gives 0.
int RecordNumber(const QStringList &fields, int index);
QString RecordText(const QStringList &fields, int index);

} // namespace kiro
