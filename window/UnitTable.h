#pragma once
// The update dialog's unit table (tableUnits): one row per unit of the
// runner, in its order, with the port, the unit's version, the stage, the
// progress, the elapsed time and the resends. A change only marks the row;
// marked rows are written when the dialog shows its next frame.
#include <QString>
#include <QVector>

class QTableWidget;
class UnitRunner;

class UnitTable
{
public:
    explicit UnitTable(const UnitRunner &runner);

    // A row per unit in tableWidget, the columns sized once; the table asks
    // its layout for room for every column and four rows.
    void setUp(QTableWidget *tableWidget);
    void mark(int row);
    // Writes the marked rows; with all, every row.
    void show(bool all = false);
    int rowCount() const { return static_cast<int>(rows.size()); }
    // The port the row shows; empty for no such row.
    QString portName(int row) const;

private:
    void showRow(int row);
    void fitColumns();
    void fitWidth();
    void fitRows();

    QTableWidget *table = nullptr;
    const UnitRunner &runner;
    struct Row {
        QString portName;
        bool dirty = true; // to be written in the next frame
    };
    QVector<Row> rows;
};
