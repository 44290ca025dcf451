#pragma once
// The copies of one kind of command whose answer names no line ("$D" answered
// by "$DACK", "$I" by "$IACK") that may still be answered. The link keeps
// order, may lose or garble any line either way, and the unit answers each
// copy it receives at most once, so an answer belongs to the oldest copy that
// may still be answered, or to one after it: it counts for the current line
// only when that oldest copy is one of the current line's own.
#include <QVector>
#include <QtGlobal>

class AnswerLedger
{
public:
    enum Kind {
        Stray, // no copy left can have caused it: a repeated answer, or one held back too long
        // ... and it was on its way before every copy left went out (read with or before
        // the read that sent them): most often a repeat that came with the answer it repeats
        Early,
        Owed, // it is counted for a copy of a line before the current one
        Current // it belongs to a copy of the current line
    };
    struct Answer {
        Kind kind = Stray;
        qint64 lineFirstNs = -1; // when the first copy of the line it is counted for went out
    };

    // A copy of line went out at ns; lines are numbered upwards and a new
    // line's first copy is sent after every copy of the lines before it.
    // read is the port's read count then: a reply whose first byte came in
    // that read or an earlier one was on its way before this copy.
    void sent(quint32 line, qint64 ns, qint64 lineFirstNs, quint32 read);
    // An answer complete at nowNs whose first byte came in read number read
    // (the port's read count then), while line current awaits
    // its answer (or is the next to go out). Copies sent more than horizonNs
    // before count as never to be answered; the oldest copy left takes the
    // answer, and the copies before it can no longer be answered.
    Answer answer(quint32 current, qint64 nowNs, quint32 read, qint64 horizonNs);
    // When the last copy still owed an answer stops being owed, or -1 when none is.
    qint64 owedUntilNs(qint64 nowNs, qint64 horizonNs) const;
    // The copies still owed an answer.
    int owedCount(qint64 nowNs, qint64 horizonNs) const;
    // A reply that the link delivers after every answer to the copies sent so far.
    void clear()
    {
        copies.clear();
        passed = 0;
    }
    // A reply came that the link delivers after every answer to the copies of
    // lines up to line: those can no longer be answered.
    void settledUpTo(quint32 line);
    int size() const { return copies.size(); }
    // Copies an answer was taken past since the last clear(): given up as
    // never to be answered, their horizon gone.
    int passedOver() const { return passed; }

private:
    struct Copy {
        quint32 line;
        qint64 sentNs;
        qint64 lineFirstNs;
        quint32 read;
    };
    QVector<Copy> copies; // in the order sent
    int passed = 0;
};
