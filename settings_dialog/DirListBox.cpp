#include "DirListBox.h"

#include "VolumeList.h"

#include <QApplication>
#include <QStyle>

namespace {
constexpr int PathRole = Qt::UserRole;
}

DirListBox::DirListBox(QWidget *parent)
    : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemActivated, this, &DirListBox::openItem);
}

bool DirListBox::setPath(const QString &folder)
{
    const QString target = kiro::NativeFolderPath(folder);
    if (!kiro::FolderCanBeOpened(target))
        return false;
    const bool changed = target != m_path;
    m_path = target;
    refresh();
    if (changed)
        Q_EMIT change();
    return true;
}

void DirListBox::refresh()
{
    clear();
    if (m_path.isEmpty())
        return;
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const QStringList chain = kiro::FolderChain(m_path);
    int depth = 0;
    QListWidgetItem *openFolder = nullptr;
    for (const QString &folder : chain) {
        auto *item = new QListWidgetItem(openIcon,
                                         QString(depth * 2, QLatin1Char(' '))
                                                 + kiro::FolderDisplayName(folder),
                                         this);
        item->setData(PathRole, folder);
        item->setToolTip(folder);
        openFolder = item;
        ++depth;
    }
    const QString indent(depth * 2, QLatin1Char(' '));
    for (const QString &folder : kiro::SubFolders(m_path)) {
        auto *item = new QListWidgetItem(closedIcon, indent + kiro::FolderDisplayName(folder), this);
        item->setData(PathRole, folder);
        item->setToolTip(folder);
    }
    if (openFolder) {
        setCurrentItem(openFolder);
        scrollToItem(openFolder);
    }
}

void DirListBox::openItem(QListWidgetItem *item)
{
    if (!item)
        return;
    const QString folder = item->data(PathRole).toString();
    if (folder != m_path)
        setPath(folder);
}
