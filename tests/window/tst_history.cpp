// The window's History view over a records file of its own (XDG_DATA_HOME):
// the filters as typed, newest first, a time that can't be read said in the
// status line, and the CSV export equal to what is shown.
#include "records/RecordStore.h"
#include "records/RecordsConfig.h"
#include "window/HistoryView.h"

#include "support/TestSupport.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

class TestHistory : public QObject
{
    Q_OBJECT

    QTemporaryDir data;

private slots:
    void initTestCase()
    {
        QVERIFY(data.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        qputenv("ZQ_RECORDS_CONF", QFile::encodeName(data.filePath("none.conf")));
        RecordStore store;
        QString error;
        QVERIFY2(store.openLocal(RecordsConfig::defaultLocalFile(), error), qPrintable(error));
        const struct {
            const char *time, *serial, *slot, *result;
        } rows[] = { { "2026-09-01T08:00:00.000Z", "A1", "A", "updated" },
            { "2026-09-03T08:00:00.000Z", "A1", "B", "not updated" },
            { "2026-09-02T08:00:00.000Z", "=2+3", "A", "updated" } };
        for (const auto &r : rows)
            QVERIFY2(store.add(QJsonObject { { "time", r.time }, { "host", "bench" }, { "adapterSerial", r.serial },
                { "slot", r.slot }, { "result", r.result }, { "updateVersion", "D.04" } }, error), qPrintable(error));
    }

    void filters_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("serials"); // shown, top to bottom; empty with a status line
        QTest::addColumn<QString>("status");
        QTest::newRow("all, newest first") << "" << "" << QStringList { "A1", "=2+3", "A1" } << "3 record(s)";
        QTest::newRow("serial") << "editSerial" << "A1" << QStringList { "A1", "A1" } << "2 record(s)";
        QTest::newRow("slot") << "editSlot" << "A" << QStringList { "=2+3", "A1" } << "2 record(s)";
        QTest::newRow("since") << "editSince" << "2026-09-02" << QStringList { "A1", "=2+3" } << "2 record(s)";
        QTest::newRow("until") << "editUntil" << "2026-09-01" << QStringList { "A1" } << "1 record(s)";
        QTest::newRow("bad time") << "editSince" << "yesterday" << QStringList() << "\"yesterday\" is no time";
    }

    void filters()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QStringList, serials);
        QFETCH(QString, status);
        HistoryView view;
        if (!field.isEmpty())
            view.findChild<QLineEdit *>(field)->setText(text);
        view.refresh();
        const auto *table = view.findChild<QTableWidget *>("tableRecords");
        QStringList shown;
        for (int row = 0; row < table->rowCount(); ++row)
            shown << table->item(row, 3)->text();
        QCOMPARE(shown, serials);
        const QString said = view.findChild<QLabel *>("labelStatus")->text();
        QVERIFY2(said.contains(status), qPrintable(said));
    }

    // The export writes what is shown; a serial a spreadsheet would compute is
    // written as text.
    void exportCsv()
    {
        HistoryView view;
        view.findChild<QComboBox *>("comboResult")->setCurrentText("updated");
        view.refresh();
        QCOMPARE(view.shown().size(), 2);
        QTemporaryDir dir;
        QString error;
        QVERIFY2(view.exportCsv(dir.filePath("h.csv"), error), qPrintable(error));
        const QList<QByteArray> lines = TestSupport::readFile(dir.filePath("h.csv")).split('\n');
        QCOMPARE(lines.size(), 4); // a header, two records, the last line feed
        QVERIFY(lines[0].startsWith("time,host,slot,port,adapterSerial"));
        QVERIFY2(lines[1].startsWith("2026-09-02T08:00:00.000Z,bench,A,,\"'=2+3\""), lines[1].constData());
        QVERIFY2(lines[2].startsWith("2026-09-01T08:00:00.000Z,bench,A,,A1,"), lines[2].constData());
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
