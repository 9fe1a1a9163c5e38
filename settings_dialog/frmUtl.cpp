#include "frmUtl.h"

frmUtl::frmUtl(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmUtl"));
    setWindowTitle(QStringLiteral("設定"));
}

frmUtl::~frmUtl() = default;
