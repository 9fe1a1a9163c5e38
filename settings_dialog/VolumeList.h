#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What the drive and folder pickers of the settings dialog need from the file
// system: the mounted volumes (drive letters on Windows), the volume of a
// folder, and a folder's place in its tree.
namespace kiro {

struct Volume {
    QString root;      // native path of the volume's root, e.g. C:\ or /media/usb
    QString display;   // what the drive picker shows
};

// The mounted volumes, sorted by root.
QList<Volume> MountedVolumes();

// The deepest folder of path that exists (path itself when it does), or an
// empty text when nothing of it exists.
QString NearestExistingFolder(const QString &path);

// Native root of the volume that holds folder (or its nearest existing
// parent); empty when there is none.
QString VolumeRootOf(const QString &folder);

// True when folder exists, its volume is ready and its entries can be listed.
bool FolderCanBeOpened(const QString &folder);

// The folders from the volume's root down to folder itself, as native paths.
QStringList FolderChain(const QString &folder);

// Native paths of folder's visible sub-folders, in ascending order of their
// names, letter case ignored.
QStringList SubFolders(const QString &folder);

// The name the folder picker shows for a folder: its last component, or the
// whole path for a root.
QString FolderDisplayName(const QString &folder);

// path cleaned and in native separators, without a trailing separator except
// for a root.
QString NativeFolderPath(const QString &path);

} // namespace kiro
