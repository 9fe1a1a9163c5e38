#include "frmFav.h"

frmFav::frmFav(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmFav"));
    setWindowTitle(QStringLiteral("お気に入り"));
}

frmFav::~frmFav() = default;
