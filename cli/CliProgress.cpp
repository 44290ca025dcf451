#include "CliProgress.h"

#include "Console.h"


namespace {
constexpr int kFrameMs = 100; // at most ten redraws a second
}

CliProgress::CliProgress(Style s, QObject *parent)
    : QObject(parent)
    , style(s)
{
    frameTimer.setInterval(kFrameMs);
    // The elapsed times move on even when no status changes: every frame is drawn.
    connect(&frameTimer, &QTimer::timeout, this, &CliProgress::redraw);
}

void CliProgress::start(const QStringList &ports)
{
    clock.start();
    units.clear();
    for (const QString &port : ports)
        add(port);
    if (style == Live) {
        columns = Console::stderrColumns();
        redraw();
        frameTimer.start();
    }
}

int CliProgress::add(const QString &port)
{
    units.append(Unit { Console::shown(port), UnitStatus(), -1, -1, false, elapsed() });
    return static_cast<int>(units.size()) - 1;
}

void CliProgress::remove(int index)
{
    if (index < 0 || index >= units.size() || units[index].removed)
        return;
    units[index].removed = true;
    if (style == Lines)
        write(QStringLiteral("%1  adapter removed\n").arg(units[index].port, -14));
}

double CliProgress::elapsed() const
{
    return clock.isValid() ? static_cast<double>(clock.nsecsElapsed()) / 1e9 : 0.0;
}

QString CliProgress::unitLine(const Unit &unit) const
{
    const double seconds = (unit.endedAt >= 0 ? unit.endedAt : elapsed()) - unit.startedAt;
    const QString version
        = unit.status.version.isEmpty() ? QStringLiteral("-") : Console::shown(unit.status.version);
    QString line = QStringLiteral("%1  %2  %3%  %4 s  %5")
                       .arg(unit.port, -14)
                       .arg(version, -8)
                       .arg(unit.status.percent, 3)
                       .arg(seconds, 5, 'f', 1)
                       .arg(Console::shown(unit.status.text()));
    if (style == Live && columns > 1 && line.size() >= columns)
        line.truncate(columns - 1); // a wrapped line would spoil the redraw
    return line;
}

void CliProgress::unitChanged(int index, const UnitStatus &status)
{
    if (index < 0 || index >= units.size())
        return;
    Unit &unit = units[index];
    const bool newStage = status.stage != unit.status.stage || unit.decile < 0;
    unit.status = status;
    if (status.ended() && unit.endedAt < 0)
        unit.endedAt = elapsed();
    switch (style) {
    case Live: break; // drawn with the next frame
    case Lines:
        if (newStage || status.percent / 10 > unit.decile) {
            unit.decile = status.percent / 10;
            write(unitLine(unit) + QLatin1Char('\n'));
        }
        break;
    case Quiet: break;
    }
}

void CliProgress::log(const QString &line)
{
    if (style == Quiet)
        return;
    error(line);
}

void CliProgress::error(const QString &text)
{
    const QString line = Console::shown(text);
    if (style != Live || drawnLines == 0) {
        write(line + QLatin1Char('\n'));
        return;
    }
    eraseBlock();
    write(line + QLatin1Char('\n'));
    redraw();
}

void CliProgress::finish()
{
    if (style != Live || finished)
        return;
    finished = true;
    frameTimer.stop();
    redraw();
    drawnLines = 0; // the block stays; later output goes below it
}

void CliProgress::eraseBlock()
{
    if (drawnLines > 0)
        write(QStringLiteral("\r\x1b[%1A\x1b[J").arg(drawnLines));
    drawnLines = 0;
}

void CliProgress::redraw()
{
    QString block;
    if (drawnLines > 0)
        block = QStringLiteral("\r\x1b[%1A\x1b[J").arg(drawnLines);
    int lines = 0;
    for (const Unit &unit : std::as_const(units)) {
        if (unit.removed)
            continue;
        block += unitLine(unit) + QLatin1Char('\n');
        ++lines;
    }
    write(block);
    drawnLines = lines;
}

void CliProgress::write(const QString &text)
{
    Console::writeErr(text.toLocal8Bit());
}
