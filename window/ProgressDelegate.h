#pragma once
// Paints a progress bar for the per cent in a table cell's display role:
// cheaper than a QProgressBar per row, and repainted only when the value changes.
#include <QStyledItemDelegate>

class ProgressDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;
};
