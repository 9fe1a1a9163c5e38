#include "Resources.h"

#include <QtCore/qglobal.h>

// Q_INIT_RESOURCE declares a global function, so it must stay outside any namespace.
void InitKiroResources()
{
    Q_INIT_RESOURCE(kiro);
}
