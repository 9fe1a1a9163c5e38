#pragma once

#include "TextFile.h"

#include <QList>
#include <QString>

// Start-up values: the application folder, the settings in KIRO.ini and the
// extension list in Extsn.fil.
namespace kiro {

inline const QString IniSection = QStringLiteral("KIRO.set");

// Sets AppDir from the program's folder, always ending in a separator. When
// the program is installed or its folder cannot be written, the user's own
// data folder for KIRO is used instead so that no setting is lost.
void SetAppDirFromProgram();
// Makes the next SetAppDirFromProgram() use folder (tests run the windows
// against a folder of their own).
void OverrideProgramFolder(const QString &folder);
// True when AppDir is the user's data folder in place of the program's: the
// downloads then default to the user's download folder.
bool AppDirIsUserDataFolder();

// Reads KIRO.ini into the seven settings, starting from their defaults. May
// show the message about a download folder whose volume is not usable.
void LoadSettings();

// True when the folder's volume (its drive on Windows) exists and is ready.
bool DownloadFolderVolumeUsable(const QString &folder);

// Extsn.fil ------------------------------------------------------------------
struct ExtensionEntry {
    QString name;
    int check = 0;
};

QString ExtsnFilePath();
QString FavFilePath();
// The 13 extensions of a new installation, all ticked.
QList<ExtensionEntry> DefaultExtensions();
// Writes the default list when no Extsn.fil exists; an existing file, even an
// empty one, is left alone.
void CreateDefaultExtsnFile();
// Creates an empty file at path when none exists.
void EnsureFileExists(const QString &path);
QList<ExtensionEntry> ReadExtensionFile(const QString &path);
SaveResult EncodeExtensionFile(const QList<ExtensionEntry> &entries, QByteArray *bytes);
SaveResult WriteExtensionFile(const QString &path, const QList<ExtensionEntry> &entries);
// Fills ExtNames and ExtChecks from Extsn.fil (element 0 holds "" and 0).
void LoadExtensionList();
// Replaces ExtNames and ExtChecks with the entries (element 0 holds "" and 0).
void SetExtensionList(const QList<ExtensionEntry> &entries);

// Files fetched at the same time: the bounds, and the value without a key.
constexpr int MinFilesAtOnce = 1;
constexpr int MaxFilesAtOnce = 8;
constexpr int DefaultFilesAtOnce = 4;

// The threshold's largest magnitude: the loader reads ten characters of it.
constexpr qint64 LargestThreshold = 9999999999LL;

// A number as the program reads one, wherever it comes from: the threshold
// and the two options in KIRO.ini, the threshold typed in the settings
// dialog and in the getter. Plain decimals with an optional sign, fraction and
// exponent, full-width digits allowed, blanks around them ignored; a fraction
// rounds to the nearest whole number, a half to the even neighbour; the result
// is kept within ±LargestThreshold. Returns false, leaving *value alone, when
// the text is not such a number (the empty text included). What happens then
// is the caller's: the loader keeps the key's default, the dialog shows and
// saves 0, the getter searches with 0.
bool ParseNumber(QStringView text, qint64 *value);

// The threshold as KIRO.ini holds it: ten digits with leading zeros, a minus
// sign in front of a negative value.
QString FormatThreshold(qint64 value);

} // namespace kiro
