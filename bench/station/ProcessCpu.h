#pragma once
// The CPU time a process has used so far, from /proc/<pid>/stat: what the
// station benches measure a program's idle cost by.
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <unistd.h>

// utime + stime of pid, in seconds; -1 when the process can't be read.
inline double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // Fields from the state on: utime and stime are the 12th and 13th.
    return (fields.value(11).toDouble() + fields.value(12).toDouble())
        / static_cast<double>(sysconf(_SC_CLK_TCK));
}
