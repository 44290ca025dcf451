#include "window/ProgressDelegate.h"

#include <QApplication>
#include <QPainter>

void ProgressDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (option.state & QStyle::State_Selected)
        painter->fillRect(option.rect, option.palette.highlight());
    QStyleOptionProgressBar bar;
    bar.initFrom(option.widget);
    bar.state |= QStyle::State_Horizontal;
    bar.rect = option.rect.adjusted(2, 2, -2, -2);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = index.data(Qt::DisplayRole).toInt();
    bar.text = QString::number(bar.progress) + QLatin1Char('%');
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    QStyle *style = option.widget != nullptr ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
}
