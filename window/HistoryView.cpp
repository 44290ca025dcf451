#include "window/HistoryView.h"

#include "engine/FileWrite.h"
#include "payload/ShownText.h"
#include "records/RecordStore.h"
#include "records/RecordsConfig.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <iterator>

namespace {

const char *const kHistoryColumns[][2] = { { "time", "Time (UTC)" }, { "host", "Station" },
    { "slot", "Slot" }, { "adapterSerial", "Serial" }, { "versionBefore", "Before" },
    { "updateVersion", "Update" }, { "result", "Result" }, { "reason", "Reason" },
    { "port", "Port" } };

QLineEdit *field(QWidget *parent, const char *name, const QString &hint)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setPlaceholderText(hint);
    return edit;
}

} // namespace

HistoryView::HistoryView(QWidget *parent)
    : QDialog(parent)
    , serial(field(this, "editSerial", QStringLiteral("any")))
    , slot(field(this, "editSlot", QStringLiteral("any")))
    , station(field(this, "editStation", QStringLiteral("any")))
    , result(new QComboBox(this))
    , version(field(this, "editVersion", QStringLiteral("any")))
    , since(field(this, "editSince", QStringLiteral("2026-12-01 or 2026-12-01T10:00 (UTC)")))
    , until(field(this, "editUntil", QStringLiteral("to the end of that day")))
    , table(new QTableWidget(this))
    , status(new QLabel(this))
{
    setWindowTitle(QStringLiteral("History"));
    setObjectName(QStringLiteral("HistoryView"));
    result->setObjectName(QStringLiteral("comboResult"));
    result->addItems({ QString(), QStringLiteral("updated"), QStringLiteral("not updated"),
        QStringLiteral("connection lost"), QStringLiteral("interrupted") });
    auto *filters = new QFormLayout;
    filters->addRow(QStringLiteral("Serial number"), serial);
    filters->addRow(QStringLiteral("Slot"), slot);
    filters->addRow(QStringLiteral("Station"), station);
    filters->addRow(QStringLiteral("Result"), result);
    filters->addRow(QStringLiteral("Update version"), version);
    filters->addRow(QStringLiteral("Since"), since);
    filters->addRow(QStringLiteral("Until"), until);

    table->setObjectName(QStringLiteral("tableRecords"));
    table->setColumnCount(static_cast<int>(std::size(kHistoryColumns)));
    QStringList headers;
    for (const auto &c : kHistoryColumns)
        headers << QLatin1String(c[1]);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->horizontalHeader()->setStretchLastSection(true);
    status->setObjectName(QStringLiteral("labelStatus"));
    status->setTextFormat(Qt::PlainText);

    auto *show = new QPushButton(QStringLiteral("Show"), this);
    show->setObjectName(QStringLiteral("buttonShow"));
    show->setDefault(true);
    auto *exportButton = new QPushButton(QStringLiteral("Export CSV…"), this);
    exportButton->setObjectName(QStringLiteral("buttonExport"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(show, QDialogButtonBox::ActionRole);
    buttons->addButton(exportButton, QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(show, &QPushButton::clicked, this, &HistoryView::refresh);
    connect(exportButton, &QPushButton::clicked, this, &HistoryView::chooseExport);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(table, 1);
    layout->addWidget(status);
    layout->addWidget(buttons);
    resize(900, 600);
}

bool HistoryView::queryOf(RecordQuery &query, QString &error) const
{
    query = RecordQuery();
    query.serial = serial->text().trimmed();
    query.slot = slot->text().trimmed();
    query.station = station->text().trimmed();
    query.result = result->currentText();
    query.version = version->text().trimmed();
    const std::pair<QLineEdit *, QDateTime *> times[] = { { since, &query.since }, { until, &query.until } };
    for (const auto &t : times) {
        const QString text = t.first->text().trimmed();
        if (text.isEmpty())
            continue;
        *t.second = RecordQuery::parseTime(text, t.second == &query.until);
        if (!t.second->isValid()) {
            error = QStringLiteral("\"%1\" is no time: give a day (2026-12-01) or a time "
                                   "(2026-12-01T10:00, UTC).")
                        .arg(text.left(40));
            return false;
        }
    }
    return true;
}

void HistoryView::refresh()
{
    records.clear();
    table->setRowCount(0);
    RecordQuery query;
    QString error;
    if (!queryOf(query, error)) {
        status->setText(error);
        return;
    }
    RecordsConfig config;
    QString note;
    if (!RecordsConfig::load(QString(), config, error)) {
        note = error + QStringLiteral(" This PC's records only. ");
        config.serverOptions.clear();
    }
    RecordStore store;
    QString source = config.localFile;
    if (config.hasServer() && store.openServer(config.serverOptions, error))
        source = config.server;
    else if (config.hasServer())
        note = QStringLiteral("The server %1 can't be asked (%2): this PC's records only. ")
                   .arg(config.server, error.trimmed());
    error.clear();
    if (!store.isOpen() && !store.openLocal(config.localFile, error)) {
        status->setText(QStringLiteral("The records database %1 can't be read: %2").arg(config.localFile, error));
        return;
    }
    records = store.find(query, error);
    if (!error.isEmpty()) {
        status->setText(error);
        return;
    }
    table->setRowCount(records.size());
    for (int row = 0; row < records.size(); ++row)
        for (int c = 0; c < static_cast<int>(std::size(kHistoryColumns)); ++c) {
            const QJsonValue v = records.at(row).value(QLatin1String(kHistoryColumns[c][0]));
            table->setItem(row, c, new QTableWidgetItem(ShownText::of(v.toString())));
        }
    status->setText(note + QStringLiteral("%1 record(s) from %2.").arg(records.size()).arg(source));
}

bool HistoryView::exportCsv(const QString &file, QString &error) const
{
    return FileWrite::replaceWhole(file, RecordQuery::csv(records), error);
}

void HistoryView::chooseExport()
{
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"),
        QStringLiteral("history.csv"), QStringLiteral("CSV (*.csv)"));
    if (file.isEmpty())
        return;
    QString error;
    status->setText(exportCsv(file, error)
            ? QStringLiteral("%1 record(s) written to %2.").arg(records.size()).arg(file)
            : QStringLiteral("Could not write %1: %2").arg(file, error));
}
