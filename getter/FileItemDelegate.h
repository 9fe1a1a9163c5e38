#pragma once

#include "engine/DownloadNaming.h"

#include <QStyledItemDelegate>

class QListWidgetItem;

// Draws an item of lstFile across the visible width of the list: the address
// on the left, shortened in the middle when it does not fit, and, once the
// item has been downloaded, the result in a column at the right edge, where
// it is seen without scrolling. The item's text stays as the download wrote
// it: the address filled to its fixed width, a blank, the result.
class FileItemDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Marks an item whose text now carries its download's result.
    static void MarkResult(QListWidgetItem *item);
    // The address and the result that the item at index is drawn with.
    static kiro::FileItemParts PartsOf(const QModelIndex &index);

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};
