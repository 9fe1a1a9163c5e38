#include "FileItemDelegate.h"

#include <QApplication>
#include <QListWidgetItem>
#include <QPainter>

namespace {

// Set on an item once a download has written its result behind the address.
constexpr int FileItemResultRole = Qt::UserRole + 1;

} // namespace

void FileItemDelegate::MarkResult(QListWidgetItem *item)
{
    item->setData(FileItemResultRole, true);
}

kiro::FileItemParts FileItemDelegate::PartsOf(const QModelIndex &index)
{
    return kiro::SplitFileItemText(index.data(Qt::DisplayRole).toString(),
                                   index.data(FileItemResultRole).toBool());
}

QSize FileItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // Only the height counts: every item spans the list's width.
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(1);
    return size;
}

void FileItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const kiro::FileItemParts parts = PartsOf(index);
    const QString &result = parts.result;
    opt.text = parts.address;
    opt.textElideMode = Qt::ElideMiddle;
    const QWidget *widget = opt.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    if (result.isEmpty()) {
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        return;
    }

    const int margin = opt.fontMetrics.horizontalAdvance(QLatin1Char(' ')) * 2;
    const int resultWidth = opt.fontMetrics.horizontalAdvance(result) + 2 * margin;
    // The row's background and highlight across its whole width first.
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    QStyleOptionViewItem left(opt);
    left.rect.setRight(opt.rect.right() - resultWidth);
    style->drawControl(QStyle::CE_ItemViewItem, &left, painter, widget);

    const QRect resultRect(left.rect.right() + 1 + margin, opt.rect.top(),
                           resultWidth - 2 * margin, opt.rect.height());
    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (opt.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
    painter->save();
    painter->setFont(opt.font);
    painter->setPen(opt.palette.color(group, (opt.state & QStyle::State_Selected)
                                                 ? QPalette::HighlightedText
                                                 : QPalette::Text));
    painter->drawText(resultRect, Qt::AlignRight | Qt::AlignVCenter, result);
    painter->restore();
}
