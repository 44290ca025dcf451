#pragma once
// The last few things that happened on the explorer's link and to its engine,
// kept cheaply (a ring of fixed-size entries) and printed with a failing seed.
#include <QByteArray>
#include <QStringList>
#include <QtGlobal>

#include <array>

class ScheduleTrace
{
public:
    // what is a string literal; line (its start) says which line it was.
    void note(qint64 ns, const char *what, const QByteArray &line = QByteArray());
    void note(qint64 ns, const char *what, qint64 number);
    // Oldest first, one entry a line: "   1234.567 ms  what  line".
    QStringList lines() const;

private:
    struct Entry {
        qint64 ns = 0;
        const char *what = "";
        char text[24] = {};
    };
    std::array<Entry, 600> ring;
    int next = 0;
    int size = 0;
};
