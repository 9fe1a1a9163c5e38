#pragma once

#include <QComboBox>

// A drive picker: the machine's mounted volumes (drive letters on Windows).
class DriveListBox : public QComboBox
{
    Q_OBJECT

public:
    explicit DriveListBox(QWidget *parent = nullptr);

    // Lists the mounted volumes again.
    void refresh();
    // Native root of the selected volume.
    QString drive() const;
    // Root of the volume at index.
    QString driveAt(int index) const;
    // Selects the volume with this root, listing it first if it is missing.
    // Emits no signal.
    void setDrive(const QString &root);
};
