#include "DriveListBox.h"

#include "VolumeList.h"

#include <QSignalBlocker>

DriveListBox::DriveListBox(QWidget *parent)
    : QComboBox(parent)
{
    refresh();
}

void DriveListBox::refresh()
{
    const QSignalBlocker blocker(this);
    const QString selected = drive();
    clear();
    for (const kiro::Volume &volume : kiro::MountedVolumes())
        addItem(volume.display, volume.root);
    if (!selected.isEmpty())
        setDrive(selected);
}

QString DriveListBox::drive() const
{
    return currentData().toString();
}

QString DriveListBox::driveAt(int index) const
{
    return itemData(index).toString();
}

void DriveListBox::setDrive(const QString &root)
{
    const QSignalBlocker blocker(this);
    int index = -1;
    for (int i = 0; i < count(); ++i) {
        if (driveAt(i).compare(root, Qt::CaseInsensitive) == 0) {
            index = i;
            break;
        }
    }
    if (index < 0 && !root.isEmpty()) {
        addItem(root, root);
        index = count() - 1;
    }
    setCurrentIndex(index);
}
