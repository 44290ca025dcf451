#pragma once
// The window's History view: the unit records of the records database (the
// plant's server when one is configured, else this PC's file), newest first,
// with the filters of "zq-update history" and an export to CSV.
#include "records/RecordQuery.h"

#include <QDialog>
#include <QJsonObject>
#include <QList>

class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

class HistoryView : public QDialog
{
    Q_OBJECT

public:
    explicit HistoryView(QWidget *parent = nullptr);

    // The filters as entered; false with error set for a time that can't be read.
    bool queryOf(RecordQuery &query, QString &error) const;
    // Runs the query and fills the table; the status line says how many or why none.
    void refresh();
    // Writes the records shown as CSV to file; false with error set.
    bool exportCsv(const QString &file, QString &error) const;
    const QList<QJsonObject> &shown() const { return records; }

private:
    void chooseExport();

    QLineEdit *serial;
    QLineEdit *slot;
    QLineEdit *station;
    QComboBox *result;
    QLineEdit *version;
    QLineEdit *since;
    QLineEdit *until;
    QTableWidget *table;
    QLabel *status;
    QList<QJsonObject> records;
};
