#pragma once

#include <QList>
#include <QString>

class QListWidget;
class QListWidgetItem;
namespace kiro { struct ExtensionEntry; }

// The extension list as the getter and the settings dialog show it: a list
// with a check box per item, in ascending order of the names with letter case
// ignored; a ticked item is an extension with check value 1.
namespace kiro {

// Inserts name at its place in the order, ticked or not, and returns it.
QListWidgetItem *InsertExtensionItem(QListWidget *list, const QString &name, bool ticked);

// Empties the list and shows entries in it; an entry is ticked when its
// check value is exactly 1.
void ShowExtensions(QListWidget *list, const QList<ExtensionEntry> &entries);

// The extensions shown, top to bottom, with 1 for a ticked one and 0 otherwise.
QList<ExtensionEntry> ExtensionsShown(const QListWidget *list);

} // namespace kiro
