#include "VolumeList.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace kiro {

QString NativeFolderPath(const QString &path)
{
    if (path.isEmpty())
        return {};
    return QDir::toNativeSeparators(QDir::cleanPath(QDir::fromNativeSeparators(path)));
}

namespace {

QString VolumeDisplay(const QStorageInfo &info, const QString &root)
{
    QString name = info.name();
#ifdef Q_OS_WIN
    QString text = root.left(2).toLower();
    if (!name.isEmpty())
        text += QStringLiteral(" [") + name + QLatin1Char(']');
    return text;
#else
    if (name.isEmpty() || name == root)
        return root;
    return root + QStringLiteral(" [") + name + QLatin1Char(']');
#endif
}

QString RootOfStorage(const QStorageInfo &info)
{
    QString root = NativeFolderPath(info.rootPath());
#ifdef Q_OS_WIN
    if (root.size() == 2 && root.at(1) == QLatin1Char(':'))
        root += QLatin1Char('\\');
#endif
    return root;
}

} // namespace

QList<Volume> MountedVolumes()
{
    QList<Volume> volumes;
    QStringList seen;
    const QList<QStorageInfo> infos = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &info : infos) {
        if (!info.isValid())
            continue;
        const QString root = RootOfStorage(info);
        // Single files mounted into place (as in containers) are not volumes
        // one could browse.
        if (root.isEmpty() || !QFileInfo(info.rootPath()).isDir() || seen.contains(root))
            continue;
        seen.append(root);
        volumes.append({root, VolumeDisplay(info, root)});
    }
    std::sort(volumes.begin(), volumes.end(), [](const Volume &a, const Volume &b) {
        return a.root.compare(b.root, Qt::CaseInsensitive) < 0;
    });
    return volumes;
}

QString NearestExistingFolder(const QString &path)
{
    QString probe = QDir::cleanPath(QDir::fromNativeSeparators(path));
    while (!probe.isEmpty()) {
        if (QFileInfo(probe).isDir())
            return NativeFolderPath(probe);
        const QString parent = QFileInfo(probe).path();
        if (parent == probe || parent == QLatin1String("."))
            break;
        probe = parent;
    }
    return {};
}

QString VolumeRootOf(const QString &folder)
{
    const QString existing = NearestExistingFolder(folder);
    if (existing.isEmpty())
        return {};
    const QStorageInfo info(existing);
    if (!info.isValid())
        return {};
    return RootOfStorage(info);
}

bool FolderCanBeOpened(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    const QFileInfo info(QDir::fromNativeSeparators(folder));
    if (!info.isDir() || !info.isReadable() || !info.isExecutable())
        return false;
    const QStorageInfo volume(info.absoluteFilePath());
    return volume.isValid() && volume.isReady();
}

QStringList FolderChain(const QString &folder)
{
    QStringList chain;
    QDir dir(QDir::fromNativeSeparators(folder));
    dir.makeAbsolute();
    while (true) {
        chain.prepend(NativeFolderPath(dir.absolutePath()));
        if (dir.isRoot() || !dir.cdUp())
            break;
    }
    return chain;
}

QStringList SubFolders(const QString &folder)
{
    QDir dir(QDir::fromNativeSeparators(folder));
    QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    QStringList paths;
    paths.reserve(names.size());
    for (const QString &name : names)
        paths.append(NativeFolderPath(dir.absoluteFilePath(name)));
    return paths;
}

QString FolderDisplayName(const QString &folder)
{
    // Cleaned first: "/a/b/" is the folder b, not a root.
    const QString path = NativeFolderPath(folder);
    const QString name = QFileInfo(QDir::fromNativeSeparators(path)).fileName();
    return name.isEmpty() ? path : name;
}

} // namespace kiro
