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

// Reads KIRO.ini into the six settings, starting from their defaults. May
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

// Text of a Long or Integer setting as the loader converts it; text that is
// not a number keeps the default.
qint64 ParseSettingNumber(const QString &text, qint64 defaultValue);

} // namespace kiro
