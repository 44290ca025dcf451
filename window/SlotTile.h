#pragma once
// One slot of the station view: the slot's name (large), its adapter's
// serial number, its state in a word and a colour (never the colour alone),
// the unit's version before and after and the time its job took. Its
// accessible name is the whole text, so a screen reader (or a test) reads
// what the operator sees.
#include <QFrame>
#include <QString>

class QLabel;

class SlotTile : public QFrame
{
    Q_OBJECT

public:
    enum State { Waiting, Updating, Updated, NotUpdated, Held };

    // name: the slot (or the adapter's serial number, without a station file).
    SlotTile(const QString &name, const QString &adapter, QWidget *parent = nullptr);

    // The state and its detail: the percentage and stage while updating, the
    // reason when not updated, the message when held.
    void setState(State state, const QString &detail = QString());
    // The unit's version before the job and after it ("" while not known).
    void setVersions(const QString &before, const QString &after);
    void setSeconds(double seconds); // negative: no time to show
    void setAdapter(const QString &adapter);

    State state() const { return current; }
    const QString &name() const { return slotName; }
    // The state as the tile writes it: "waiting for a unit", "updating 42%: image 2 of 5", ...
    QString stateText() const;
    // Everything the tile shows, in one line (its accessible name).
    QString text() const;

    // The state's word and colour (background, text).
    static QString word(State state);
    static QColor colour(State state);
    // A time as m:ss.
    static QString minutes(double seconds);

private:
    void refresh();

    const QString slotName;
    QString adapterName;
    State current = Waiting;
    QString detail;
    QString before;
    QString after;
    double seconds = -1;
    QLabel *nameLabel;
    QLabel *adapterLabel;
    QLabel *stateLabel;
    QLabel *versionLabel;
    QLabel *timeLabel;
};
