#include "ExtensionListWidget.h"

#include "core/Settings.h"
#include "core/SortedText.h"

#include <QListWidget>

namespace kiro {

QListWidgetItem *InsertExtensionItem(QListWidget *list, const QString &name, bool ticked)
{
    QStringList texts;
    texts.reserve(list->count());
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    auto *item = new QListWidgetItem(name);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    list->insertItem(SortedInsertIndex(texts, name), item);
    return item;
}

void ShowExtensions(QListWidget *list, const QList<ExtensionEntry> &entries)
{
    list->clear();
    for (const ExtensionEntry &entry : entries)
        InsertExtensionItem(list, entry.name, entry.check == 1);
}

QList<ExtensionEntry> ExtensionsShown(const QListWidget *list)
{
    QList<ExtensionEntry> shown;
    shown.reserve(list->count());
    for (int i = 0; i < list->count(); ++i) {
        const QListWidgetItem *item = list->item(i);
        shown.append({item->text(), item->checkState() == Qt::Checked ? 1 : 0});
    }
    return shown;
}

} // namespace kiro
