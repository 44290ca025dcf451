#include "engine/AnswerLedger.h"

void AnswerLedger::sent(quint32 line, qint64 ns, qint64 lineFirstNs, quint32 read)
{
    copies.append(Copy { line, ns, lineFirstNs, read });
}

AnswerLedger::Answer AnswerLedger::answer(
    quint32 current, qint64 nowNs, quint32 read, qint64 horizonNs)
{
    // The link keeps order: the answer belongs to the oldest copy that can
    // still be answered or to a later one, so counting it for the oldest is
    // never ahead of the truth. Expired copies stay until an answer is taken
    // past them: a horizon that grows later may bring them back.
    int i = 0;
    while (i < copies.size() && nowNs - copies.at(i).sentNs >= horizonNs)
        ++i;
    if (i == copies.size())
        return Answer();
    if (copies.at(i).read >= read) {
        Answer early; // every copy left went out after this answer was on its way
        early.kind = Early;
        return early;
    }
    const Copy taken = copies.at(i);
    copies.remove(0, i + 1);
    passed += i;
    Answer a;
    a.kind = taken.line == current ? Current : Owed;
    a.lineFirstNs = taken.lineFirstNs;
    return a;
}

void AnswerLedger::settledUpTo(quint32 line)
{
    int i = 0;
    while (i < copies.size() && copies.at(i).line <= line)
        ++i;
    copies.remove(0, i);
}

int AnswerLedger::owedCount(qint64 nowNs, qint64 horizonNs) const
{
    int n = 0;
    for (const Copy &c : copies)
        n += nowNs - c.sentNs < horizonNs ? 1 : 0;
    return n;
}

qint64 AnswerLedger::owedUntilNs(qint64 nowNs, qint64 horizonNs) const
{
    if (copies.isEmpty())
        return -1;
    const qint64 until = copies.constLast().sentNs + horizonNs;
    return until > nowNs ? until : -1;
}
