// The explorer's scripted schedules: short jobs on a faultless link (1 ms
// unless a row says otherwise) with a few faults placed by hand. Each is a
// schedule that broke the engine once (found by the explorer, by a tester, or
// by reasoning), kept so it never breaks it again, or one past the promise
// that records what happens there; tst_explorer runs each as a row.
#include "Explorer.h"

namespace {

using F = ScriptedFault;

// A "$D" line of the sector at sector, offset offset: its body's start.
QByteArray dataLine(int offset)
{
    return "D," + QByteArray::number(offset, 16).toUpper() + ',';
}

ScriptedFault fault(F::What what, const QByteArray &command, qint64 sector, int copy, double ms = 0)
{
    ScriptedFault f;
    f.what = what;
    f.command = command;
    f.sector = sector;
    f.copy = copy;
    f.ms = ms;
    return f;
}

// Answers held back from 45 ms up to 3.8 s, each within twice the longest
// before it, on lines of the first three of eight sectors: the port has then
// shown an answer of some 3.8 s.
QVector<ScriptedFault> answersGrowingTo3800Ms()
{
    const double holds[] = { 45, 85, 160, 300, 580, 1100, 2100, 3800 };
    QVector<ScriptedFault> out;
    for (int i = 0; i < 8; ++i)
        out << fault(F::HoldAnswer, dataLine(0x100 + (i % 3) * 0x400), 0xD8000 + (i / 3) * 0x1000,
            1, holds[i]);
    return out;
}

} // namespace

QVector<ScriptedSchedule> scriptedSchedules()
{
    QVector<ScriptedSchedule> all;

    // The second answer to a sector's last line, 40 ms late, came while "$P"
    // waited and was not counted: the port had shown some 55 ms, the engine
    // counted 18. In a later sector a line's second copy was answered 72 ms
    // late (within twice 55): the hold for it had ended after 70 ms, the next
    // line had gone out and was lost, and that late answer was taken for it:
    // a hole.
    for (const double late : { 72.0 }) {
        ScriptedSchedule s;
        s.name = QStringLiteral("a late answer after a sector's last line, then one %1 ms late")
                     .arg(late);
        s.faults << fault(F::HoldAnswer, dataLine(0xFC0), 0xD9000, 1, 15)
                 << fault(F::HoldAnswer, dataLine(0xFC0), 0xD9000, 2, 40)
                 << fault(F::HoldAnswer, dataLine(0x100), 0xDB000, 1, 15)
                 << fault(F::HoldAnswer, dataLine(0x100), 0xDB000, 2, late)
                 << fault(F::LoseCommand, dataLine(0x140), 0xDB000, 1);
        all << s;
    }

    // The PC busy from just before an owed answer arrived until just past the
    // end of the hold for it (less than 10 ms past: no late wake-up, so no
    // grace), and the event loop running the due timer before the read, as
    // Qt's Unix dispatcher does: the held line went out, then the old answer
    // was read and taken for it. That line had been lost: a hole.
    for (const double held : { 50.0, 66.0 }) {
        for (const double pastEnd : { 1.0, 8.0 }) {
            ScriptedSchedule s;
            s.name = QStringLiteral("a wake-up before the read: answer held %1 ms, busy to %2 ms "
                                    "past the hold")
                         .arg(held)
                         .arg(pastEnd);
            s.dispatch = 1; // timers first
            ScriptedFault busy = fault(F::Busy, dataLine(0x0), 0xDA000, 2, 0);
            busy.afterMs = held - 1;
            busy.ms = 70 - held + 1 + pastEnd;
            s.faults << fault(F::HoldAnswer, dataLine(0x0), 0xDA000, 1, 14)
                     << fault(F::HoldAnswer, dataLine(0x0), 0xDA000, 2, held) << busy
                     << fault(F::LoseCommand, dataLine(0x40), 0xDA000, 1);
            all << s;
        }
    }

    // Answers grown to some 3.8 s, then one held exactly 4 s by a unit that
    // loses what reaches it meanwhile: the horizon, capped at 4 s with the
    // way back inside the cap, gave that answer no time to arrive, and it was
    // taken for the next line, which the unit never got.
    {
        ScriptedSchedule s;
        s.name = QStringLiteral("an answer held 4 s after answers of 3.8 s");
        s.faults = answersGrowingTo3800Ms();
        s.faults << fault(F::HoldAnswer, dataLine(0x800), 0xDC000, 1, 15)
                 << fault(F::Stall, dataLine(0x800), 0xDC000, 2, 4000);
        all << s;
    }

    // One bit turns "$IACK,0" into "$IACK,1" (its checksum then wrong): the
    // image was skipped and the job reported updated.
    {
        ScriptedSchedule s;
        s.name = QStringLiteral("$IACK,0 garbled into $IACK,1");
        s.sectors = 0;
        s.mode = UpdateMode::ImagesOnly;
        ScriptedFault flip = fault(F::FlipAnswer, "I,01,", -1, 1);
        flip.into = "IACK,1";
        s.faults << flip;
        all << s;
    }

    // A lost "$E" and one bit turning the first line's "$DACK" into "$EACK":
    // the sector was programmed over what it held before.
    {
        ScriptedSchedule s;
        s.name = QStringLiteral("a lost $E and $DACK garbled into $EACK");
        ScriptedFault flip = fault(F::FlipAnswer, dataLine(0x0), 0xDB000, 1);
        flip.into = "EACK";
        s.faults << fault(F::LoseCommand, "E,DB000,", -1, 1) << flip;
        all << s;
    }
    // An owed answer early in a sector, after the port has shown answers of
    // some 90 ms: the sector's "$E" goes out again, and its "$EACK", which
    // comes after every answer owed, settles them; the lines are written
    // again from the first. The line lost is lost again each time the sector
    // is written (the copies count from its "$E"): the "$E" goes out again
    // once a sector, or the job never ends. Then with that "$E" lost, with
    // its "$EACK" lost, and with the owed answer held back and the "$EACK"
    // behind it.
    const struct {
        const char *name;
        QVector<ScriptedFault> faults;
    } settled[] = {
        { "an owed answer settled by $E again",
            { fault(F::LoseCommand, dataLine(0x140), 0xDB000, 1) } },
        { "... that $E lost",
            { fault(F::LoseCommand, dataLine(0x140), 0xDB000, 1),
                fault(F::LoseCommand, "E,DB000,", -1, 2) } },
        { "... its $EACK lost",
            { fault(F::LoseCommand, dataLine(0x140), 0xDB000, 1),
                fault(F::LoseAnswer, "E,DB000,", -1, 2) } },
        { "... the owed answer held back, the $EACK behind it",
            { fault(F::HoldAnswer, dataLine(0x140), 0xDB000, 1, 150),
                fault(F::LoseAnswer, dataLine(0x140), 0xDB000, 2) } },
    };
    for (const auto &row : settled) {
        ScriptedSchedule s;
        s.name = QString::fromLatin1(row.name);
        s.faults << fault(F::HoldAnswer, dataLine(0x100), 0xD8000, 1, 45)
                 << fault(F::HoldAnswer, dataLine(0x100), 0xD9000, 1, 85) << row.faults;
        all << s;
    }

    // The unit held one answer back 30 ms and then read nothing for 120 ms,
    // the tool's copies waiting in its receive buffer; when it read again the
    // next line arrived garbled. It took the held line's second copy only
    // then (and the third) and answered them at once: no pause at all,
    // counted from when it took them. From the PC those answers came 144 and
    // 128 ms after their copies left, where the port had shown answers of
    // 40 ms (a round trip of 120 ms covered): the hold for them had ended, the
    // next line had gone out and was the one garbled, and the first of them
    // was taken for it. A hole, and the job reported updated: past the
    // promise as the tool measures it. The second late answer, which no copy
    // still owed could account for, now has the sector written again: one
    // hole programmed, then put right. With the answer held 20 ms the line
    // went out twice only, no answer is left over, and the hole stays unseen.
    // With a stop 30 ms shorter every answer comes within the round trip
    // covered, and the job is sound; with one 20 ms longer the next line has
    // gone out again before the unit reads, and the same late answers leave
    // no hole. An adapter whose latency timer is 8 ms.
    const struct {
        double hold;
        double stop;
        bool past;
        int holes;
        bool holdsPayload;
    } stops[] = { { 30, 90, false, 0, true }, { 30, 120, true, 1, true },
        { 30, 140, true, 0, true }, { 20, 80, true, 1, false } };
    for (const auto &row : stops) {
        ScriptedSchedule s;
        s.name = QStringLiteral("an answer held %1 ms, then %2 ms unread, the next line garbled")
                     .arg(row.hold)
                     .arg(row.stop);
        s.sectors = 3;
        s.latencyMs = 8;
        ScriptedFault halt = fault(F::StopReading, dataLine(0x900), 0xDF000, 1, row.stop);
        halt.afterMs = row.hold;
        halt.once = true; // the unit stalls once; the sector written again meets no stall
        ScriptedFault garble = fault(F::GarbleCommand, dataLine(0x940), 0xDF000, 1);
        garble.once = true;
        s.faults << halt << garble;
        s.pastPromise = row.past;
        s.holes = row.holes;
        s.holdsPayload = row.holdsPayload;
        all << s;
    }
    return all;
}
