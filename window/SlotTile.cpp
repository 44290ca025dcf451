#include "window/SlotTile.h"

#include "payload/ShownText.h"

#include <QColor>
#include <QFontMetrics>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QLabel *tileLine(QWidget *parent, double scale, bool bold)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText); // names and versions from outside, as they are
    QFont f = label->font();
    f.setPointSizeF(f.pointSizeF() * scale);
    f.setBold(bold);
    label->setFont(f);
    label->setMinimumWidth(1); // a long text never widens the grid
    return label;
}

} // namespace

QString SlotTile::minutes(double seconds)
{
    const int s = static_cast<int>(seconds + 0.5);
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

SlotTile::SlotTile(const QString &name, const QString &adapter, QWidget *parent)
    : QFrame(parent)
    , slotName(name)
    , adapterName(adapter)
    , nameLabel(tileLine(this, 2.2, true))
    , adapterLabel(tileLine(this, 1.0, false))
    , stateLabel(tileLine(this, 1.5, true))
    , versionLabel(tileLine(this, 1.1, false))
    , timeLabel(tileLine(this, 1.1, false))
{
    setObjectName(QStringLiteral("slotTile_") + name);
    setFrameShape(QFrame::Box);
    setLineWidth(2);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::TabFocus); // read out one by one from the keyboard
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(1);
    stateLabel->setWordWrap(true); // the state and its detail: a reason may take two lines
    stateLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (QLabel *label : { nameLabel, adapterLabel, stateLabel, versionLabel, timeLabel })
        layout->addWidget(label);
    layout->addStretch(1);
    nameLabel->setText(ShownText::of(name));
    refresh();
}

QString SlotTile::word(State state)
{
    switch (state) {
    case Waiting: return QStringLiteral("waiting for a unit");
    case Updating: return QStringLiteral("updating");
    case Updated: return QStringLiteral("updated");
    case NotUpdated: return QStringLiteral("not updated");
    case Held: return QStringLiteral("held");
    }
    return QString();
}

// Dark enough behind white text, and told apart by lightness as well as hue.
QColor SlotTile::colour(State state)
{
    switch (state) {
    case Waiting: return QColor(0x5a, 0x62, 0x6e); // slate
    case Updating: return QColor(0x1f, 0x5f, 0xb4); // blue
    case Updated: return QColor(0x1b, 0x7a, 0x2e); // green
    case NotUpdated: return QColor(0xb0, 0x1e, 0x1e); // red
    case Held: return QColor(0x9a, 0x50, 0x00); // amber
    }
    return QColor(Qt::black);
}

void SlotTile::setState(State state, const QString &text)
{
    current = state;
    detail = text;
    refresh();
}

void SlotTile::setVersions(const QString &was, const QString &now)
{
    before = was;
    after = now;
    refresh();
}

void SlotTile::setSeconds(double s)
{
    seconds = s;
    refresh();
}

void SlotTile::setAdapter(const QString &adapter)
{
    adapterName = adapter;
    refresh();
}

QString SlotTile::stateText() const
{
    // One line: a reason or a message that runs on is cut at its first line.
    const QString first = detail.section(QLatin1Char('\n'), 0, 0);
    return first.isEmpty() ? word(current) : word(current) + QStringLiteral(": ") + first;
}

QString SlotTile::text() const
{
    QStringList parts { slotName, QStringLiteral("adapter ") + (adapterName.isEmpty() ? QStringLiteral("none") : adapterName),
        stateText() };
    if (!before.isEmpty() || !after.isEmpty())
        parts << QStringLiteral("version %1 to %2")
                     .arg(before.isEmpty() ? QStringLiteral("unknown") : before,
                         after.isEmpty() ? QStringLiteral("not yet") : after);
    if (seconds >= 0)
        parts << QStringLiteral("time %1").arg(minutes(seconds));
    return ShownText::of(parts.join(QStringLiteral("; ")));
}

void SlotTile::refresh()
{
    QPalette p = palette();
    p.setColor(QPalette::Window, colour(current));
    p.setColor(QPalette::WindowText, Qt::white);
    setPalette(p);
    adapterLabel->setText(ShownText::of(adapterName.isEmpty() ? QStringLiteral("no adapter")
                                                              : QStringLiteral("adapter ") + adapterName));
    const QString state = ShownText::of(stateText());
    // A long reason is cut on the tile (its accessible name keeps all of it).
    constexpr int kShownChars = 90;
    stateLabel->setText(state.size() > kShownChars ? state.left(kShownChars - 1) + QChar(0x2026) : state);
    stateLabel->setToolTip(state);
    versionLabel->setText(before.isEmpty() && after.isEmpty()
            ? QString()
            : ShownText::of(QStringLiteral("%1 → %2").arg(before.isEmpty() ? QStringLiteral("?") : before,
                after.isEmpty() ? QStringLiteral("…") : after)));
    timeLabel->setText(seconds < 0 ? QString() : minutes(seconds));
    setAccessibleName(text());
}
