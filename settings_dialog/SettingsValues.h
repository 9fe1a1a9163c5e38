#pragma once

#include <QString>
#include <QStringList>

// How the settings dialog turns what the user entered into stored values.
namespace kiro {

// Longest value the loader reads back from KIRO.ini for the addresses and the
// download folder; anything longer would come back cut.
constexpr int LongestStoredValue = 199;

// value left-aligned in a field of IniBufferWidth characters, padded with
// blanks and cut when longer.
QString IniValueField(const QString &value);

// The stored form of an address: plain ASCII. Text that already is plain
// ASCII (and holds no double quote) is kept as it is; anything else is
// percent-encoded, with a host name in its ASCII form.
QString AddressForStorage(const QString &address);

} // namespace kiro
