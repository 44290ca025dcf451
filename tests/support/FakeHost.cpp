#include "FakeHost.h"

#include "link/LineFrame.h"
#include "engine/Timeouts.h"

FakeHost::FakeHost(UpdateMode mode)
{
    engine.inputs.mode = mode;
    port.resetJob();
}

void FakeHost::sendLine(UnitJob *, char *text)
{
    const int n = CompleteLine(text);
    if (n > 0)
        written << QByteArray(text, n);
}

void FakeHost::sendRaw(UnitJob *, const QString &text)
{
    written << text.toUtf8() + '\n';
}

void FakeHost::step(int n)
{
    for (int i = 0; i < n; ++i) {
        clockMs += Timeouts::kTickMs;
        engine.tick(&port);
    }
}

void FakeHost::reply(const QByteArray &text)
{
    readWaiting(); // what waited at the port came first, in a read of its own
    engine.receive(&port, text + '\n');
}

QString FakeHost::reopen(qint32 value)
{
    baud = value;
    open = true;
    return QString();
}

void FakeHost::readWaiting()
{
    if (waiting.isEmpty())
        return;
    QByteArray bytes;
    bytes.swap(waiting);
    engine.receive(&port, bytes);
}

QByteArrayList FakeHost::sent()
{
    QByteArrayList lines;
    lines.swap(written);
    for (QByteArray &line : lines) {
        line.chop(1);
        const int star = line.lastIndexOf('*');
        if (star > 0)
            line.truncate(star);
    }
    return lines;
}
