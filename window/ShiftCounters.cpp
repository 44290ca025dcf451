#include "window/ShiftCounters.h"

#include "payload/ShownText.h"

#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace {

const char *const kNames[3] = { "updated", "not updated", "held" };

} // namespace

ShiftCounters::ShiftCounters(QWidget *parent)
    : QWidget(parent)
    , list(new QListWidget(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *title = new QLabel(QStringLiteral("This shift"), this);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    title->setFont(big);
    layout->addWidget(title);
    for (int i = 0; i < 3; ++i) {
        labels[i] = new QLabel(this);
        labels[i]->setObjectName(QStringLiteral("shiftCount%1").arg(i));
        labels[i]->setFont(big);
        layout->addWidget(labels[i]);
    }
    auto *last = new QLabel(QStringLiteral("&Last units"), this);
    last->setBuddy(list);
    layout->addWidget(last);
    list->setObjectName(QStringLiteral("recentUnits"));
    list->setAccessibleName(QStringLiteral("Last units"));
    layout->addWidget(list, 1);
    refresh();
}

void ShiftCounters::unitEnded(bool wasUpdated, const QString &line)
{
    ++counts[wasUpdated ? 0 : 1];
    list->insertItem(0, ShownText::of(line));
    while (list->count() > kRecentShown)
        delete list->takeItem(list->count() - 1);
    refresh();
}

void ShiftCounters::slotHeld()
{
    ++counts[2];
    refresh();
}

QStringList ShiftCounters::recent() const
{
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

void ShiftCounters::refresh()
{
    for (int i = 0; i < 3; ++i) {
        const QString text = QStringLiteral("%1 %2").arg(counts[i]).arg(QLatin1String(kNames[i]));
        labels[i]->setText(text);
        labels[i]->setAccessibleName(text);
    }
}
