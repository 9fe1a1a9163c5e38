#pragma once

// Small helpers the tests share for what lands on disk and what a server
// sends.

#include <QByteArray>
#include <QtGlobal>
#include <QString>
#include <QStringList>

// Every entry under root, relative to it, folders with a final "/", sorted:
// a missing, extra, leftover or misplaced file changes it.
QStringList TreeListing(const QString &root);

// The whole file, or "<missing>" when it cannot be read.
QByteArray FileBytes(const QString &path);

// text as a UTF-16 little-endian body with its byte order mark, each code
// unit as it is (an unpaired surrogate included).
QByteArray Utf16LeBody(const QString &text);

// The names directly in folder, hidden ones included, sorted.
QStringList FolderEntries(const QString &folder);

// The process's peak resident memory (VmHWM) in bytes; -1 when unknown.
qint64 PeakResidentBytes();
// Starts the peak over from the memory in use now (Linux 4.0 and later).
bool ResetPeakResident();

// Writes data as the whole file; false when it cannot.
bool WriteFile(const QString &path, const QByteArray &data);
