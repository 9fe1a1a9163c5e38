#include "Resources.h"

#include <QImageReader>
#include <QtCore/qglobal.h>

// Q_INIT_RESOURCE declares a global function, so it must stay outside any namespace.
void InitKiroResources()
{
    Q_INIT_RESOURCE(kiro);
}

QIcon KiroIcon(const QString &name)
{
    static const bool svg = QImageReader::supportedImageFormats().contains("svg");
    return QIcon(QStringLiteral(":/icons/") + name + (svg ? QStringLiteral(".svg") : QStringLiteral(".png")));
}
