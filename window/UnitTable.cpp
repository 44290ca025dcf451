#include "window/UnitTable.h"

#include "engine/PortTest.h"
#include "engine/UnitRunner.h"
#include "window/ProgressDelegate.h"

#include <QHeaderView>
#include <QTableWidget>
#include <algorithm>
#include <utility>

namespace {

enum Column { ColPort, ColVersion, ColStage, ColProgress, ColElapsed, ColResends, kColumns };
constexpr int kVisibleRows = 4; // rows the table shows without scrolling

QString elapsedText(double seconds)
{
    const qint64 s = static_cast<qint64>(seconds);
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

UnitTable::UnitTable(const UnitRunner &unitRunner)
    : runner(unitRunner)
{
}

void UnitTable::setUp(QTableWidget *tableWidget)
{
    table = tableWidget;
    table->setRowCount(runner.count());
    rows.resize(runner.count());
    for (int row = 0; row < rows.size(); ++row) {
        rows[row].portName = runner.port(row)->portName();
        for (int column = 0; column < kColumns; ++column) {
            auto *item = new QTableWidgetItem;
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (column == ColElapsed || column == ColResends)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(row, column, item);
        }
        table->item(row, ColPort)->setText(rows[row].portName);
        table->item(row, ColPort)->setToolTip(rows[row].portName);
        showRow(row);
    }
    table->setItemDelegateForColumn(ColProgress, new ProgressDelegate(table));
    fitColumns();
    fitWidth();
    fitRows();
}

// Fixed widths, measured once: each column's longest text, the stage's
// longest while the job runs; the progress bar takes the rest. "Time" is the
// job's elapsed time.
void UnitTable::fitColumns()
{
    QHeaderView *header = table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    const QFontMetrics metrics = table->fontMetrics();
    const auto fit = [&](int column, const QStringList &texts) {
        int width = 0;
        for (const QString &text : texts)
            width = std::max(width, metrics.horizontalAdvance(text) + 8); // a cell's margins
        const QString title = table->horizontalHeaderItem(column)->text();
        width = std::max(width, metrics.horizontalAdvance(title) + 10); // the header's
        header->resizeSection(column, width);
    };
    QStringList names;
    for (const Row &row : std::as_const(rows))
        names << row.portName.left(12);
    fit(ColPort, names);
    fit(ColVersion, { QStringLiteral("D.03mm, not confirmed"), QStringLiteral("not confirmed (was D.02mm)") });
    fit(ColStage, { QStringLiteral("firmware, sector 223 of 223") });
    fit(ColElapsed, { QStringLiteral("00:00") });
    fit(ColResends, { QStringLiteral("00000") });
    header->setSectionResizeMode(ColProgress, QHeaderView::Stretch);
}

// Every column in view, the progress bar at least kMinProgress wide: the
// dialog's layout gives the table that much, and the dialog grows with it.
void UnitTable::fitWidth()
{
    constexpr int kMinProgress = 90;
    QHeaderView *header = table->horizontalHeader();
    const QHeaderView *rows = table->verticalHeader();
    int needed = 2 * table->frameWidth() + (rows->isHidden() ? 0 : rows->sizeHint().width()) + kMinProgress;
    for (int column = 0; column < kColumns; ++column)
        if (column != ColProgress)
            needed += header->sectionSize(column);
    table->setMinimumWidth(needed);
}

// Four rows in view in any font: the table keeps the form's height, or the
// rows' when that is more; the job log above it takes what room is left.
void UnitTable::fitRows()
{
    const QFontMetrics metrics = table->fontMetrics();
    QHeaderView *rowHeader = table->verticalHeader();
    const int rowHeight = std::max(rowHeader->defaultSectionSize(), metrics.height() + 8);
    rowHeader->setSectionResizeMode(QHeaderView::Fixed);
    rowHeader->setDefaultSectionSize(rowHeight);
    const int needed = 2 * table->frameWidth() + table->horizontalHeader()->sizeHint().height()
        + kVisibleRows * rowHeight;
    table->setFixedHeight(std::max(table->minimumHeight(), needed));
}

void UnitTable::mark(int row)
{
    if (row >= 0 && row < rows.size())
        rows[row].dirty = true;
}

void UnitTable::show(bool all)
{
    for (int row = 0; row < rows.size() && row < runner.count(); ++row) {
        if (all || rows[row].dirty)
            showRow(row);
    }
}

QString UnitTable::portName(int row) const
{
    return row >= 0 && row < rows.size() ? rows[row].portName : QString();
}

void UnitTable::showRow(int row)
{
    rows[row].dirty = false;
    const PortTest *port = runner.port(row);
    const UnitStatus &status = port->status;
    table->item(row, ColVersion)->setText(status.versionText());
    table->item(row, ColVersion)->setToolTip(status.versionText());
    QTableWidgetItem *stage = table->item(row, ColStage);
    const QString text = status.text();
    stage->setText(text);
    stage->setToolTip(text);
    if (status.ended()) {
        // The words say it; the colour makes it quick to see: green updated,
        // amber updated but not seen running the update, red not updated.
        const bool updated = status.stage == UnitStatus::Updated;
        if (status.notConfirmed()) {
            stage->setForeground(QColor(0x80, 0x50, 0x00));
            stage->setBackground(QColor(0xff, 0xe8, 0xb0));
        } else {
            stage->setForeground(updated ? QColor(0x10, 0x60, 0x10) : QColor(0xa0, 0x10, 0x10));
            stage->setBackground(updated ? QColor(0xd8, 0xf0, 0xd8) : QColor(0xf8, 0xd8, 0xd8));
        }
    }
    table->item(row, ColProgress)->setData(Qt::DisplayRole, status.percent);
    table->item(row, ColElapsed)
        ->setText(port->timing.startNs < 0 ? QString() : elapsedText(runner.seconds(row)));
    table->item(row, ColResends)->setText(QString::number(port->timing.resends));
}
