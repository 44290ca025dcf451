#pragma once
// The station view's counters for the shift: units updated, not updated and
// slots held since the view opened, and below them the last units, newest
// first (slot, result, version and time).
#include <QWidget>

class QLabel;
class QListWidget;

class ShiftCounters : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kRecentShown = 12;

    explicit ShiftCounters(QWidget *parent = nullptr);

    // A unit's job ended: line is what the list shows of it.
    void unitEnded(bool wasUpdated, const QString &line);
    // A slot was held (once per hold, not per repeat).
    void slotHeld();

    int updated() const { return counts[0]; }
    int notUpdated() const { return counts[1]; }
    int held() const { return counts[2]; }
    QStringList recent() const;

private:
    void refresh();

    int counts[3] = { 0, 0, 0 };
    QLabel *labels[3] = {};
    QListWidget *list;
};
