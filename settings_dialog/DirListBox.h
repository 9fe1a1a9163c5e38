#pragma once

#include <QListWidget>

// A folder picker in the classic manner: the folders from the volume's root
// down to the open folder, then the open folder's sub-folders, indented.
// Double-clicking (or Enter on) a folder opens it; a click only highlights.
class DirListBox : public QListWidget
{
    Q_OBJECT

public:
    explicit DirListBox(QWidget *parent = nullptr);

    // Native path of the open folder.
    QString path() const { return m_path; }
    // Opens folder and emits change() when the open folder is another one.
    // Returns false, leaving everything as it was, when it cannot be opened.
    bool setPath(const QString &folder);
    // Lists the open folder's contents again.
    void refresh();

Q_SIGNALS:
    void change();

private:
    void openItem(QListWidgetItem *item);

    QString m_path;
};
