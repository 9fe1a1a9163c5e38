#pragma once

#include <QString>
#include <QStringList>

// How the settings dialog turns what the user entered into stored values.
namespace kiro {

// Longest value the loader reads back from KIRO.ini for the addresses and the
// download folder; anything longer would come back cut.
constexpr int LongestStoredValue = 199;

// The threshold's largest magnitude: the loader reads ten characters of it.
constexpr qint64 LargestThreshold = 9999999999LL;

// value left-aligned in a field of IniBufferWidth characters, padded with
// blanks and cut when longer.
QString IniValueField(const QString &value);

// Reads a threshold typed by the user: plain decimals with an optional sign,
// fraction and exponent, blanks around them and full-width digits allowed.
// A fraction rounds half to even; the result is kept within the range the
// file can hold. Returns false when the text is not a number.
bool ParseThreshold(const QString &text, qint64 *value);

// Ten digits with leading zeros, a minus sign in front of a negative value.
QString FormatThreshold(qint64 value);

// The stored form of an address: plain ASCII. Text that already is plain
// ASCII (and holds no double quote) is kept as it is; anything else is
// percent-encoded, with a host name in its ASCII form.
QString AddressForStorage(const QString &address);

} // namespace kiro
