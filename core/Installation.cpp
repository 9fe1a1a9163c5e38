#include "Installation.h"

#include <QDir>
#include <QFileInfo>

namespace kiro {

const QString ApplicationId = QStringLiteral(KIRO_APP_ID);

QString InstalledDesktopEntry(const QString &programFolder)
{
    return QDir::cleanPath(QDir(programFolder).filePath(QStringLiteral(KIRO_INSTALLED_ENTRY)));
}

bool ProgramIsInstalled(const QString &programFolder)
{
    return !programFolder.isEmpty() && QFileInfo(InstalledDesktopEntry(programFolder)).isFile();
}

} // namespace kiro
