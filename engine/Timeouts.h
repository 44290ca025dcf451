#pragma once
// Every wait of a unit's job, in one place. Waits are counted in job steps (the
// 500 ms timer's ticks and the steps that replies run at once).
#include <cstdint>

namespace Timeouts {

constexpr int kTickMs = 500; // the job timer's period: one step of every port

constexpr int kVersionQuerySteps = 10; // eight "$MVER", then two "$BOOTLOADM"
constexpr int kBootloaderWarnSteps = 40; // the job log says no bootloader was seen
// A bootloader left captured by a job that ended abruptly (the PC crashed or
// slept, the program was killed) does not announce itself again: while no
// "$Bootloader" has come after the switch to its speed, "$G" goes out unasked
// on every this-many-th step, and its "$GACK" captures the unit.
constexpr int kCaptureProbeSteps = 4;
constexpr int kCommandWaitSteps = 3; // firmware: a command is due once tickCount passes 3
constexpr int kProgramWaitSteps = 17; // ... and "$P" once it passes 17
constexpr int kImageWaitSteps = 3; // image header or chunk resent after four steps
constexpr int kImageRestartSteps = 6; // header again after a lost last "$FACK"
constexpr int kEraseReplySteps = 2; // "$A,1" waits this long for "$AACK"
constexpr int kEraseRunningSteps = 120; // ... and this long once erasing has started
constexpr int kFinishSteps = 4; // "$X" to closing the port
// Once the port has closed after "$X", the unit's new firmware has this long
// (10 s) to answer "$MVER" at 19200 baud; "$MVER" goes out every step.
constexpr int kConfirmSteps = 20;
// Steps at most to hold the next "$D" or "$I" while answers are still owed to
// earlier copies; the ledger of copies keeps the count right after that too.
// 8 s: the longest the horizon of owed answers can be (kLongestPauseMs and
// as long again for the way back).
constexpr int kSettleSteps = 16;
// A sector whose "$DACK"s outnumber the "$D" copies sent for it by its "$PACK"
// is written again (a reply was repeated on its way, so an answer may have
// been counted for a line the unit never got), this many times at most; then
// the job ends.
constexpr int kMaxSectorRedos = 3;

} // namespace Timeouts

namespace Timeouts {

// "$D" and "$F" carry their place ("$D" its offset in the sector, "$F" its
// chunk number), so a repeat can't harm the unit: they are resent after a
// time-out learned from the port's own replies (ReplyTimer) once that many
// replies to lines sent once are behind it. The step-count waits above stay
// the upper bound. As a transport protocol does, the first answer sets it (to
// three times that answer's time), so only a kind's first line waits by steps.
constexpr int kLearnSamples = 1;
// The learned time-out never goes below this: an FTDI adapter holds replies
// up to its latency timer (16 ms by default, 1 ms once lowered), and a busy PC
// adds a few milliseconds. Slower links raise the time-out by what they show.
constexpr int kResendFloorMs = 20;
// Once a port has shown this many replies, the slowest of them (which the
// time-out covers one and a half times) stands for its adapter's latency, and
// the floor drops to kSettledFloorMs: on an adapter set to 1 ms, a lost line
// then costs some 12 ms of waiting instead of 20, and the answer times it
// lengthens (the longest sets how long owed answers are waited for) stay
// short: a line lost once stays under the 20 ms past which that wait grows.
constexpr int kFloorLearnSamples = 32;
constexpr int kSettledFloorMs = 12;
// The third copy of a line waits one time-out, as the second does; each
// further copy waits twice as long as the one before it, up to this many
// doublings (and never longer than the step count).
constexpr int kMaxBackOffs = 6;
// A wake-up that comes this much later than asked means this program did not
// run for a while (a busy PC): the answer may be waiting unread, so it gets
// kWayBackMs more before the line goes out again.
constexpr int kLateWakeMs = 10;
// An answer's way back at least: a pause holds back an answer that was on its
// way already, so an owed copy is waited for this much (or the longest answer
// shown, if longer) beyond the pause it covers.
constexpr int kWayBackMs = 20;

// An answer may be held back this long after its copy went out, or twice the
// longest answer the port has shown (counted from the first copy of its line),
// whichever is longer, but no longer than kLongestPauseMs; a copy older than
// that and its answer's way back whose answer has not come is taken as never
// to be answered. Three times the longest an FTDI adapter's default latency
// timer holds an answer.
constexpr int kOwedHorizonMs = 50;
// The longest pause of the unit (or spell in which this program does not run)
// that the wait for owed answers covers, whatever the port has shown. The way
// back comes on top of it, so that a pause of exactly this long is covered too.
constexpr int kLongestPauseMs = 4000;
// With two or more copies owed, the next "$D" line is held for their answers,
// whatever a second copy of the lines left would cost, until the port has shown
// an answer this long: the wait is then 300 ms or more, and sending on (which
// lengthens the answers shown by a few milliseconds) is the cheaper again.
constexpr int kSeveralOwedSendOnMs = 100;

// A captured unit that has answered nothing this long while a command of the
// tool's is waiting for its answer has fallen silent: its job ends.
constexpr int kSilenceMs = 30000;
// A unit whose bootloader announces itself again mid-job is taken up again
// this many times; the next restart ends its job.
constexpr int kMaxRestarts = 3;
// A bootloader that keeps announcing itself while the "$G" sent for it has
// had no reply for this long restarts before it answers, or does not hear the
// tool: its job ends.
constexpr int kCaptureAnswerMs = 10000;

} // namespace Timeouts

namespace Timeouts {

// The records database (records/). A unit's record is stored in the local
// SQLite file while other units' jobs run on the same thread: a file another
// program holds longer than this is reported, not waited for.
constexpr int kRecordsBusyMs = 250;
// The plant's PostgreSQL server is reached from a thread of its own; a server
// that does not answer within this long is tried again on the next pass.
constexpr int kRecordsConnectSeconds = 3;
// A statement the server takes longer than this for is cancelled (the batch
// stays in the outbox).
constexpr int kRecordsStatementMs = 10000;
// Records left in the outbox are offered to the server again this often.
constexpr int kRecordsRetryMs = 2000;
// At the end of a run the last records get this long to reach the server;
// what is left waits in the outbox for the next pass or "records sync".
constexpr int kRecordsLastPassMs = 5000;

} // namespace Timeouts
