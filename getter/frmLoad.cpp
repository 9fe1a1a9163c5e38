#include "frmLoad.h"

#include <QPointer>

namespace {
QPointer<frmLoad> g_current;
}

frmLoad::frmLoad(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmLoad"));
    setWindowTitle(QStringLiteral("ファイルのダウンロード"));
}

frmLoad::~frmLoad() = default;

frmLoad *frmLoad::Open(QWidget *parent)
{
    auto *window = new frmLoad(parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    g_current = window;
    window->show();
    return window;
}

frmLoad *frmLoad::Current()
{
    return g_current;
}

void frmLoad::Unload()
{
    close();
}
