#!/usr/bin/env python3
"""The mutants that scripts/mutants runs, and applying one to a copy of the tree.

Each mutant puts back one fault the tool has had or guards against. It is
given as exact text and its replacement, so it still applies after unrelated
edits; when the text is no longer found exactly once, the mutant is "stale".

    mutants.py list                one line per mutant: name, file, what it breaks
    mutants.py names               the names, one a line
    mutants.py file NAME [ROOT]    the file NAME changes (in the tree at ROOT)
    mutants.py apply ROOT NAME     applies NAME to the tree at ROOT
                                   (exit 3 and a reason when it is stale)
    mutants.py hint TABLE NAME     the test that killed NAME in an earlier run's
                                   Markdown table ("tst_x: function" or "tst_x")
    mutants.py run-one BUILD TEST [FUNCTION]
                                   runs TEST of the build at BUILD as CTest
                                   would, FUNCTION only when given; its exit status
                                   (125: no such function)
"""
import json
import os
import re
import subprocess
import sys
from pathlib import Path

# The sequencer is one class over several files (steps, reactions, timing): a
# mutant given this name applies to whichever of them holds its text.
SEQ = "engine/Sequencer*.cpp"

# (name, file, what the mutant breaks, original text, replacement text)
MUTANTS = [
    # --- Sequencer guards -------------------------------------------------
    ("owed-dack-credited-in-hold", SEQ,
     'a "$DACK" owed to the line just acknowledged is counted for it again (the address moves on twice)',
     "        = g.firmware.dataCopies.answer(lineOut ? g.firmware.dataLine : g.firmware.dataLine + 1, now,\n",
     "        = g.firmware.dataCopies.answer(g.firmware.dataLine, now,\n"),
    ("aack-any-state", SEQ,
     '"$AACK" acts outside EraseImages',
     "    if (port->jobState != JobState::EraseImages) {\n"
     "        qCDebug(lcJob) << \"$AACK not awaited, ignored\";\n",
     "    if (false) {\n"
     "        qCDebug(lcJob) << \"$AACK not awaited, ignored\";\n"),
    ("stale-fack-resends", SEQ,
     'a "$FACK" for another chunk (flag not 1) steps: the chunk goes out again',
     "        qCDebug(lcJob) << \"$FACK for another chunk than\" << port->lastChunk << \", ignored\";\n"
     "        return;\n",
     "        qCDebug(lcJob) << \"$FACK for another chunk than\" << port->lastChunk << \", ignored\";\n"),
    ("reply-steps-every-port", "window/DialogBootload.cpp",
     "every received line runs a step of every port (the engine sees one port "
     "only, so the dialog's per-line hook does it)",
     "    lineWidgets.lineReceived();\n",
     "    lineWidgets.lineReceived();\n"
     "    runner.tick();\n"),
    ("owed-iack-skips-image", SEQ,
     'an "$IACK" owed to an earlier header copy is taken as the answer to the next one',
     "        g.images.headerAwaited ? g.images.headerLine : g.images.headerLine + 1, now,\n",
     "        g.images.headerLine, now,\n"),
    ("program-without-eack", SEQ,
     '"$P" goes out although the sector\'s "$EACK" never came',
     "        if (!port->guards.firmware.sectorErased) {\n",
     "        if (false) {\n"),
    ("lost-g-not-reanswered", SEQ,
     '"$Bootloader" after a lost "$G" is not answered again',
     "    if (port->capturePhase != CapturePhase::Uncaptured && !captureLost) {\n",
     "    (void)captureLost;\n"
     "    if (port->capturePhase != CapturePhase::Uncaptured) {\n"),
    ("empty-image-sent", SEQ,
     "an image that holds no bytes is sent",
     "        if (image.problem.isEmpty() && !image.pixels.isEmpty())\n",
     "        if (image.problem.isEmpty())\n"),
    ("complete-after-skipped-work", SEQ,
     '"Bootload Complete" is written even when something was not updated',
     "    if (port->status.notUpdated.isEmpty())\n"
     "        log(QStringLiteral(\"Bootload Complete\"));\n"
     "    else\n",
     "    log(QStringLiteral(\"Bootload Complete\"));\n"
     "    if (!port->status.notUpdated.isEmpty())\n"),
    ("image-end-greater", SEQ,
     'an image counts as sent only when the offset passes its size (">" for ">=")',
     "        if (port->imageOffset >= static_cast<std::uint32_t>(image.pixels.size()))\n",
     "        if (port->imageOffset > static_cast<std::uint32_t>(image.pixels.size()))\n"),

    ("timeout-forgets-slow-replies", "engine/ReplyTimer.cpp",
     "the resend time-out no longer covers the slowest recent reply (replies spread by an "
     "adapter's latency timer are taken for lost)",
     "2 * smoothed,\n        peak + peak / 2 });\n",
     "2 * smoothed });\n"),
    ("resend-without-back-off", "engine/SequencerTiming.cpp",
     "every copy of a line waits one time-out: an answer held up for long costs a copy a time-out",
     "    return g.waits.lastCopyNs + (timer.timeoutNs() << doublings);\n",
     "    return g.waits.lastCopyNs + timer.timeoutNs() + 0 * doublings;\n"),
    ("third-copy-doubles", "engine/SequencerTiming.cpp",
     "the third copy of a line waits twice the time-out: a line lost twice shows a longer answer, "
     "and every later wait for owed answers grows with it",
     "    const int doublings = std::min(std::max(copies - 2, 0), kMaxBackOffs);\n",
     "    const int doublings = std::min(std::max(copies - 1, 0), kMaxBackOffs);\n"),
    ("several-owed-sent-on", "engine/SequencerTiming.cpp",
     "lines go on past several owed copies while the port's answers are short: the longest answer "
     "shown grows by a line's time with each line",
     "        = owed == 1 || t.longestAnswerNs > qint64(kSeveralOwedSendOnMs) * 1000000LL;\n",
     "        = owed >= 1 || t.longestAnswerNs > qint64(kSeveralOwedSendOnMs) * 1000000LL;\n"),
    ("several-owed-always-held", "engine/SequencerTiming.cpp",
     "with several copies owed the next line is held whatever the port has shown: a unit that "
     "pauses for seconds holds 4 s a line",
     "        = owed == 1 || t.longestAnswerNs > qint64(kSeveralOwedSendOnMs) * 1000000LL;\n",
     "        = owed == 1;\n"),
    ("hold-wake-without-grace", "engine/SequencerTiming.cpp",
     "a late wake-up (of a hold or a resend) acts at once: an owed answer waiting unread on a "
     "busy PC is then counted for the next line",
     "    if (w.wakeGraced || !lateFor(now, w.wakeDueNs))\n        return false;\n",
     "    if (true)\n        return false;\n"),
    ("step-ends-hold-early", "engine/SequencerTiming.cpp",
     "a step that runs late, after a hold's end and before its wake-up, sends the held line",
     "(ledger.owedUntilNs(now, horizonNs(port)) >= 0 || wakeToCome)) {\n",
     "(ledger.owedUntilNs(now, horizonNs(port)) >= 0 || (wakeToCome && false))) {\n"),
    ("window-writes-later", "engine/SerialLink.cpp",
     "a front end leaves a line to the port's next write notification: a busy event loop "
     "holds it while its resend time-out runs",
     "    const qint64 n = port.write(data, size);\n    port.flush();\n    port.flush();\n",
     "    const qint64 n = port.write(data, size);\n"),

    # --- The job log's closing lines -----------------------------------------
    ("lossy-hint-off-by-one", "engine/JobSummary.cpp",
     "five lines sent again are not enough for the hint to check the cable",
     "    return count >= JobSummary::kLossyLinkResends\n",
     "    return count > JobSummary::kLossyLinkResends\n"),
    ("lossy-hint-ignores-ratio", "engine/JobSummary.cpp",
     "a few copies in a long job (a busy computer) are taken for a bad cable",
     "        && static_cast<qint64>(count) * JobSummary::kLossyLinkRatio >= linesSent;\n",
     "        && linesSent >= 0;\n"),

    # --- Line frame, checksum, fields ----------------------------------------
    ("frame-no-length-limit", "link/LineFrame.cpp",
     "a text longer than 993 characters is framed past the buffer's end",
     "    if (end > kMaxCommandText)\n"
     "        return 0;\n",
     ""),
    ("dollar-past-nul", "link/LineFrame.cpp",
     'CompleteLine finds a "$" behind the text\'s NUL',
     "    while (dollar < kLineBufferSize - 1 && buf[dollar] != '$' && buf[dollar] != '\\0')\n",
     "    while (dollar < kLineBufferSize - 1 && buf[dollar] != '$')\n"),
    ("crc-initial-value", "link/Crc16.h",
     "the checksum starts at 0 instead of 0xFFFF",
     "constexpr std::uint16_t kCrc16Initial = 0xFFFF;\n",
     "constexpr std::uint16_t kCrc16Initial = 0x0000;\n"),
    ("crc-polynomial", "link/Crc16.cpp",
     "the checksum's polynomial changed (one term shifted)",
     "^ (x >> 4) ^ (x << 3));\n",
     "^ (x >> 4) ^ (x << 2));\n"),
    ("getfield-keeps-separator", "link/TextRoutines.cpp",
     "GetField copies one character too many: the separator that ends the field",
     "    while (copied < maxLength && !endsField(text[pos + copied])) {\n",
     "    while (copied < maxLength && (copied == 0 || !endsField(text[pos + copied - 1]))) {\n"),

    # --- Image reader -------------------------------------------------------------
    ("reader-comments-read", "payload/ImageReader.cpp",
     "comments inside the byte array are read as values",
     "            const int e = commentEnd(s, n, p);\n"
     "            if (e >= 0)\n"
     "                p = e;\n"
     "            else\n"
     "                lineStart = false;\n",
     "            lineStart = false;\n"),
    ("reader-if-always-taken", "payload/ConditionalSections.cpp",
     "an #if section is kept whatever its condition",
     "    levels.append({ outer, outer && condition, outer && condition });\n",
     "    levels.append({ outer, outer, outer });\n"),
    ("reader-nested-header", "payload/ImageReader.cpp",
     'a nested ".header = { .w = .. }" block loses its prefix (".w", not ".header.w")',
     "            if (afterEquals)\n"
     "                prefix += key.trimmed();\n",
     ""),
    ("reader-stride-padding", "payload/ImageReader.cpp",
     "rows padded to a stride are cut to size without moving them (padding kept, last rows lost)",
     "std::memmove(data + row * rowBytes, data + row * stride, static_cast<size_t>(rowBytes));\n",
     "std::memmove(data + row * rowBytes, data + row * rowBytes, static_cast<size_t>(rowBytes));\n"),

    # --- Port and wire -------------------------------------------------------------
    ("rx-kept-at-speed-change", SEQ,
     "a partial line received before the speed change is kept",
     "    port->rxLength = 0; // a partial line from the old speed would spoil the first one\n",
     ""),
    ("dack-advances-twice", "engine/AnswerLedger.cpp",
     'a "$DACK" owed to an earlier line\'s copy is counted for the current line',
     "    a.kind = taken.line == current ? Current : Owed;\n",
     "    a.kind = Current;\n"),
    ("d-offset-decimal", "engine/Protocol.cpp",
     'a "$D" line\'s offset is written in decimal',
     "    finish(putBytes(putHex(put(buf, \"$D,\"), offset, 1), bytes, count));\n",
     "    char *p = put(buf, \"$D,\");\n"
     "    char digits[12];\n"
     "    int k = 0;\n"
     "    do {\n"
     "        digits[k++] = static_cast<char>('0' + offset % 10);\n"
     "        offset /= 10;\n"
     "    } while (offset != 0);\n"
     "    while (k > 0)\n"
     "        *p++ = digits[--k];\n"
     "    finish(putBytes(p, bytes, count));\n"),

    # --- Texts and the main window -------------------------------------------------
    ("text-bootload-completed", SEQ,
     '"Bootload Complete" written as "Bootload Completed"',
     "        log(QStringLiteral(\"Bootload Complete\"));\n",
     "        log(QStringLiteral(\"Bootload Completed\"));\n"),
    ("title-spelling-corrected", "window/MainWindow.cpp",
     'the window title\'s "bootlodaer" corrected to "bootloader"',
     "setWindowTitle(QStringLiteral(\"Orvek Annealing ZQ bootlodaer\"));",
     "setWindowTitle(QStringLiteral(\"Orvek Annealing ZQ bootloader\"));"),
    ("buttons-swapped", "window/MainWindow.cpp",
     "pushButton_2 and pushButton_3 run each other's mode",
     "    connect(ui->pushButton_3, &QPushButton::clicked, this, [this] { runJob(UpdateMode::ImagesOnly); });\n"
     "    connect(ui->pushButton_2, &QPushButton::clicked, this, [this] { runJob(UpdateMode::DeleteImages); });\n",
     "    connect(ui->pushButton_3, &QPushButton::clicked, this, [this] { runJob(UpdateMode::DeleteImages); });\n"
     "    connect(ui->pushButton_2, &QPushButton::clicked, this, [this] { runJob(UpdateMode::ImagesOnly); });\n"),
    ("fack-flag1-ignored", SEQ,
     '"$FACK" with flag 1 (the unit moves to the next image) is ignored',
     "    } else if (flag == 1) {\n",
     "    } else if (flag == 1 && false) {\n"),
    ("dack-owed-not-awaited", SEQ,
     'the next "$D" goes out while answers are still owed to the last one\'s copies',
     "    } else {\n        holdForOwed(port, g.firmware.dataCopies,",
     "    } else {\n        holdForOwed(port, AnswerLedger(),"),
    ("late-eack-resends-line", SEQ,
     'a late "$EACK" sends the sector\'s first data line again',
     "    if (port->address % Protocol::kSectorSize == 0 && g.firmware.dataSends == 0) {\n",
     "    if (port->address % Protocol::kSectorSize == 0) {\n"),
    ("firmware-check-skipped", SEQ,
     "fw1.bin is not checked before the first sector is erased",
     "    if (firmwareProblem) {\n",
     "    if (firmwareProblem && false) {\n"),
    ("erase-wait-steps", "engine/Timeouts.h",
     'the wait for "$AACK,1" once erasing runs is 100 steps, not 120',
     "constexpr int kEraseRunningSteps = 120;",
     "constexpr int kEraseRunningSteps = 100;"),
    ("version-query-count", "engine/Timeouts.h",
     'seven "$MVER" before "$BOOTLOADM", not eight',
     "constexpr int kVersionQuerySteps = 10;",
     "constexpr int kVersionQuerySteps = 9;"),
    # --- Learned resends, silence, restarts --------------------------------
    ("eack-before-e", SEQ,
     'a stray "$EACK" before the sector\'s "$E" marks the sector erased',
     "    if (port->sectorStep == SectorStep::Program || g.firmware.sectorErased || !g.firmware.eraseSent)\n",
     "    if (port->sectorStep == SectorStep::Program || g.firmware.sectorErased)\n"),
    ("fack-flag1-restarts-image", SEQ,
     '"$FACK" with flag 1 for another chunk waits seven steps for the next header',
     "        ++port->imageIndex;\n"
     "        port->imageStep = ImageStep::Header;\n",
     "        ++port->imageIndex;\n"
     "        port->imageStep = ImageStep::Restart;\n"),
    ("no-learned-resend", "engine/SequencerTiming.cpp",
     '"$D" and "$F" wait for the step count only',
     "    if (const ReplyTimer *timer = awaitedTimer(port))\n",
     "    if (const ReplyTimer *timer = nullptr)\n"),
    ("owed-wait-by-steps", "engine/SequencerTiming.cpp",
     "the hold for owed answers ends only at a step: no wake-up when they can no longer come",
     "        port->guards.waits.wakeGraced = false;\n"
     "        wakeAt(port, until);\n",
     "        port->guards.waits.wakeGraced = false;\n"),
    ("owed-wait-ends-at-latest-copy", "engine/SequencerTiming.cpp",
     "answers are owed only one learned time-out after a copy (late owed answers count for the next lines)",
     "    return pause + std::max(qint64(kWayBackMs) * 1000000LL, std::min(longest, cap));\n",
     "    return port->timing.dataTimer.learned() ? port->timing.dataTimer.timeoutNs() : pause;\n"),
    ("horizon-without-floor", "engine/SequencerTiming.cpp",
     "owed answers are waited for twice the longest answer only, with no 50 ms floor",
     "    const qint64 pause = std::min(std::max(qint64(kOwedHorizonMs) * 1000000LL, 2 * longest), cap);\n",
     "    const qint64 pause = std::min(2 * longest, cap);\n"),
    ("horizon-without-answer-in-hand", SEQ,
     "the answer in hand does not count among those the port has shown before it is placed",
     "    if (lineOut)\n"
     "        noteAnswer(port, now - g.firmware.dataFirstNs);\n",
     ""),
    ("ledger-takes-latest-copy", "engine/AnswerLedger.cpp",
     "an answer is counted for the latest copy sent, not the oldest that may still be answered",
     "    const Copy taken = copies.at(i);\n"
     "    copies.remove(0, i + 1);\n",
     "    const Copy taken = copies.constLast();\n"
     "    copies.clear();\n"),
    ("stray-iack-ends-dack-wait", SEQ,
     'a stray "$IACK" in the firmware ends the wait for an owed "$DACK"',
     "        qCDebug(lcJob) << \"$IACK not awaited, ignored\";\n"
     "        return;\n",
     "        qCDebug(lcJob) << \"$IACK not awaited, ignored\";\n"
     "        g.waits.holdSteps = 0;\n"
     "        step(port);\n"
     "        return;\n"),
    ("erase-time-is-silence", "engine/SequencerEnding.cpp",
     'a lost "$AACK,0" lets the unit\'s 20 s erase count as silence',
     "    const bool erasing = port->jobState == JobState::EraseImages && eraseSteps >= 0\n",
     "    const bool erasing = false && eraseSteps >= 0\n"),
    ("resend-floor-lowered", "engine/Timeouts.h",
     "the learned time-out's floor below an adapter's latency jitter",
     "constexpr int kResendFloorMs = 20;",
     "constexpr int kResendFloorMs = 5;"),
    ("floor-settles-at-once", "engine/Timeouts.h",
     "the time-out drops to the settled floor before the port has shown its adapter's latency",
     "constexpr int kFloorLearnSamples = 32;",
     "constexpr int kFloorLearnSamples = 1;"),
    ("settled-floor-below-jitter", "engine/ReplyTimer.cpp",
     "the settled floor is the smoothed reply time, below a busy PC's jitter",
     "    return std::max({ qint64(floorMs) * 1000000LL, smoothed + 4 * variation, 2 * smoothed,",
     "    return std::max({ count >= 32 ? 0 : qint64(floorMs) * 1000000LL, smoothed + 4 * variation, 2 * smoothed,"),
    ("silence-never-ends", "engine/SequencerEnding.cpp",
     "a silent unit keeps its job waiting forever",
     "    if (silentMs < kSilenceMs)\n",
     "    if (true)\n"),
    ("restart-ignored", SEQ,
     'a "$Bootloader" after the bootloader answered changes nothing',
     "        if (port->jobState != JobState::Finish)\n"
     "            restart(port);\n",
     "        if (port->jobState != JobState::Finish)\n"
     "            (void)0;\n"),
    ("restarts-unbounded", "engine/Timeouts.h",
     "a unit that keeps restarting is taken up forever",
     "constexpr int kMaxRestarts = 3;",
     "constexpr int kMaxRestarts = 1000;"),
    ("capture-unanswered-unbounded", SEQ,
     'a bootloader that keeps announcing itself and answers no "$G" keeps its job waiting forever',
     "    } else if (now - t.captureSentNs >= kCaptureAnswerMs * 1000000LL) {\n",
     "    } else if (false) {\n"),
    ("captured-unit-never-probed", SEQ,
     'a unit left captured by an earlier job gets no "$G" until it announces itself (never)',
     "    if (waited % kCaptureProbeSteps == 0) {\n",
     "    if (false) {\n"),
    ("sim-pause-tail-one-write", "tools/unit-sim/SimReplyQueue.cpp",
     "the simulated unit writes a held-back reply and the replies behind it all at once, so the "
     "tool never reads answers owed to earlier copies in later reads",
     "            due = next;\n"
     "            gapUs = next - lastQueuedUs;\n",
     "            (void)next;\n"),
    ("dack-repeat-in-read", "engine/AnswerLedger.cpp",
     'a "$DACK" read together with the one that sent the current line acknowledges it too',
     "    if (copies.at(i).read >= read) {\n",
     "    if (false) {\n"),
    ("answer-begun-before-copy", "engine/AnswerLedger.cpp",
     "an answer whose first byte was read before a copy went out, completed in a later read, is counted for that copy",
     "    if (copies.at(i).read >= read) {\n",
     "    if (copies.at(i).read == read) {\n"),
    ("answer-start-read-at-end", SEQ,
     "an answer's read is the one that completed it, not the one that brought its first byte",
     "        if (port->rxLength <= 0)\n"
     "            port->guards.reads.replyStartRead = port->guards.reads.readCount;\n",
     "        port->guards.reads.replyStartRead = port->guards.reads.readCount;\n"),
    # --- Station: ports, records, refusals, watch -------------------------
    ("refusal-no-report", "cli/main.cpp",
     "a refused run (exit 2) writes no --report",
     "    if (!options.reportFile.isEmpty()) {\n        CliReport report = CliReport::forRun(options);\n",
     "    if (false) {\n        CliReport report = CliReport::forRun(options);\n"),
    ("in-use-in-qt-words", "engine/PortProblem.cpp",
     "a port another program holds is reported in Qt's words (a permission error while locking)",
     "    if (error == QSerialPort::PermissionError || !p.holders.isEmpty())\n        return inUseText(p);\n",
     ""),
    ("record-log-truncated", "engine/FileWritePosix.cpp",
     "the unit log is rewritten, not appended to",
     "    int flags = O_RDWR | O_APPEND | O_CREAT |",
     "    int flags = O_RDWR | O_TRUNC | O_CREAT |"),
    ("watch-job-per-look", "engine/StationWatch.cpp",
     "--watch starts another job for a slot whose adapter stayed plugged in",
     "        if (active.contains(keyOf(t)))\n            continue;\n",
     ""),
    ("watch-query-on-tick", "engine/UnitRunner.cpp",
     "--watch leaves a plugged unit's version query for the job timer's next tick",
     "        sequencer.step(port);\n        sequencer.step(port);\n",
     "        sequencer.step(port);\n"),
    ("shared-serial-holds-station", "engine/StationFile.cpp",
     "--watch: two adapters with one slot's serial number stop every slot from starting a job",
     "            if (held == nullptr)\n                return false;\n",
     "            return false;\n"),
    ("station-stop-starts-jobs", "engine/StationWatch.cpp",
     "the station's Stop still starts a job for every unit plugged in after it",
     "    if (stopping)\n        return;\n",
     ""),
    ("station-hold-never-lifted", "engine/StationWatch.cpp",
     "a slot's tile stays held after the second adapter with its serial number went",
     "    if (changed)\n        host.holdsNow(holds);\n",
     ""),
    ("hold-said-once", "engine/StationWatch.cpp",
     "--watch says once, not until it is put right, that a slot starts no job",
     "        if (!holds.isEmpty() && shown.hasExpired(kRepeatMs))\n            hold(holds);\n",
     ""),
    # --- Answer ledger: the horizon and sending on ------------------------
    ("horizon-without-way-back", "engine/SequencerTiming.cpp",
     "a copy is owed for the pause's length only, not the answer's way back after it",
     "    return pause + std::max(qint64(kWayBackMs) * 1000000LL, std::min(longest, cap));\n",
     "    return pause;\n"),
    ("horizon-uncapped", "engine/SequencerTiming.cpp",
     "the horizon outgrows the hold: owed copies outlive it and take every answer",
     "    return pause + std::max(qint64(kWayBackMs) * 1000000LL, std::min(longest, cap));\n",
     "    return pause + std::max(qint64(kWayBackMs) * 1000000LL, longest) + cap;\n"),
    ("horizon-cap-holds-way-back", "engine/SequencerTiming.cpp",
     "the 4 s cap is on the pause and its way back together: an answer held 4 s has no time to arrive",
     "    return pause + std::max(qint64(kWayBackMs) * 1000000LL, std::min(longest, cap));\n",
     "    return std::min(pause + std::max(qint64(kWayBackMs) * 1000000LL, longest), cap);\n"),
    # --- Replies that lie, and replies read late ----------------------------
    ("late-dack-after-last-line-uncounted", SEQ,
     'a "$DACK" that comes while "$P" waits does not count among the answers the port has shown',
     "    noteAnswer(port, now - g.firmware.dataFirstNs);\n"
     "    const AnswerLedger::Answer late = g.firmware.dataCopies.answer(\n",
     "    return;\n"
     "    const AnswerLedger::Answer late = g.firmware.dataCopies.answer(\n"),
    ("wake-sends-before-reading", "engine/SequencerTiming.cpp",
     "a wake-up acts before the reply waiting at the port is read (timers before reads)",
     "    port->link.readWaiting();\n"
     "    if (port->status.ended() || port->jobState == JobState::Finish)\n",
     "    if (port->status.ended() || port->jobState == JobState::Finish)\n"),
    ("ended-job-takes-replies", "engine/SequencerReplies.cpp",
     'a job that has ended takes replies: a "$GACK" read with its stop captures the unit and finishes the job again',
     "    if (port->status.ended())\n        return;\n    port->timing.silentSinceNs = host.nowNs();\n",
     "    port->timing.silentSinceNs = host.nowNs();\n"),
    ("garbled-reply-believed", SEQ,
     "a reply whose checksum is wrong is taken on a unit that frames its replies",
     "    } else if (check == LineCheck::Wrong && port->timing.checksumsShown) {\n",
     "    } else if (false) {\n"),
    ("late-answers-taken-for-lost", "engine/JobSummary.cpp",
     "lines sent again whose answers came late are reported as lost lines (check the cable)",
     "    const int lost = std::max(0, resends - lateAnswers);\n",
     "    const int lost = resends;\n"),
    ("repeated-answers-after-p-kept", SEQ,
     'a sector whose "$DACK"s outnumber its copies by its "$PACK" is kept (a repeat stood in for a lost line)',
     "    if (port->guards.firmware.sectorAnswers > port->guards.firmware.sectorCopies\n"
     "        || answerAfterGivingUp) {\n",
     "    if (answerAfterGivingUp) {\n"),
    ("answer-after-giving-up-kept", SEQ,
     'a sector in which a "$DACK" came that no copy still owed could account for, after copies were given up, is kept (a late answer may have stood in for a lost line)',
     "        || answerAfterGivingUp) {\n",
     "        || false) {\n"),
    ("erase-again-keeps-place", "engine/SequencerTiming.cpp",
     'the "$E" sent again to settle owed answers leaves the lines written before it unwritten',
     "    port->address -= port->address % Protocol::kSectorSize;\n    sendSectorErase(port);\n",
     "    sendSectorErase(port);\n"),
    ("erase-again-every-time", "engine/SequencerTiming.cpp",
     'the "$E" is sent again for every owed answer of a sector: a line lost each time never gets through',
     "        || f.eraseAfterLine.size() != 1 || f.eraseAnswers != 1 || !t.checksumsShown)\n",
     "        || f.eraseAnswers != f.eraseAfterLine.size() || !t.checksumsShown)\n"),
    ("owed-choice-without-grace", "engine/SequencerTiming.cpp",
     'after a line went out again, the next goes on (or the sector is erased again) before the answers queued behind a late one can come',
     "    if ((sendOn || erase) && answersQueued && w.choiceDueNs < 0 && grace > 0\n",
     "    if ((sendOn || erase) && false && w.choiceDueNs < 0 && grace > 0\n"),
    ("eack-settles-later-copies", SEQ,
     'an "$EACK" settles the copies sent after the "$E" it may answer',
     "            g.firmware.dataCopies.settledUpTo(g.firmware.eraseAfterLine.at(g.firmware.eraseAnswers));\n",
     "            g.firmware.dataCopies.settledUpTo(g.firmware.dataLine);\n"),

    # --- Update packages: every check before a port is opened -------------
    ("package-size-unchecked", "payload/UpdatePackage.cpp",
     "a package over the size limit is read",
     "    if (bytes.size() > PackageLimits::kMaxPackageBytes) {\n",
     "    if (false) {\n"),
    ("entry-size-unchecked", "payload/PackageArchive.cpp",
     "a tar entry over the size limit is read into memory",
     "        if (size > PackageLimits::kMaxEntryBytes) {\n",
     "        if (false) {\n"),
    ("entry-count-unchecked", "payload/PackageArchive.cpp",
     "a package may hold any number of entries",
     "        if (++count > PackageLimits::kMaxEntries) {\n",
     "        if (++count < 0) {\n"),
    ("dotdot-path-taken", "payload/PackageArchive.cpp",
     'a path with ".." is taken',
     '        if (part == QLatin1String(".."))\n',
     '        if (false)\n'),
    ("absolute-path-taken", "payload/PackageArchive.cpp",
     "an absolute path is taken",
     "    if (path.startsWith(QLatin1Char('/')) || (path.size() >= 2 && path[1] == QLatin1Char(':')))\n",
     "    if (false)\n"),
    ("link-entry-taken", "payload/PackageArchive.cpp",
     "a symbolic or hard link in the package is not named as one",
     "        if (type == AE_IFLNK || archive_entry_hardlink(entry)) {\n",
     "        if (false) {\n"),
    ("device-entry-taken", "payload/PackageArchive.cpp",
     "a device, FIFO or socket entry is taken",
     "        if (type != AE_IFREG && type != AE_IFDIR) {\n",
     "        if (false) {\n"),
    ("sparse-entry-taken", "payload/PackageArchive.cpp",
     "a sparse tar entry (a small package that unpacks to far more) is read",
     "        if (archive_entry_sparse_count(entry) > 0) {\n",
     "        if (false) {\n"),
    ("duplicate-entry-taken", "payload/PackageArchive.cpp",
     "an entry named twice is taken (the second copy wins)",
     "        if (out.files.contains(path) || out.folders.contains(path)) {\n",
     "        if (false) {\n"),
    ("manifest-size-unchecked", "payload/UpdatePackage.cpp",
     "a manifest over the size limit is parsed",
     "    if (manifestBytes.size() > PackageLimits::kMaxManifestBytes) {\n",
     "    if (false) {\n"),
    ("signature-size-unchecked", "payload/UpdatePackage.cpp",
     "a signature file over the size limit is read",
     "    if (sigText.size() > PackageLimits::kMaxSignatureBytes)\n",
     "    if (false)\n"),
    ("any-key-trusted", "payload/UpdatePackage.cpp",
     "a signature is checked against the first trusted key whatever key made it",
     "    const MinisignKey *key = trust.find(sig.keyId);\n",
     "    const MinisignKey *key = trust.keys().isEmpty() ? nullptr : &trust.keys().first();\n"),
    ("signature-not-verified", "payload/MinisignSignature.cpp",
     "any signature by a trusted key counts as valid, whatever file it signed",
     "    return fileSigned ? Valid : BadSignature;\n",
     "    return Valid;\n"),
    ("trusted-comment-not-verified", "payload/MinisignSignature.cpp",
     "the global signature over the trusted comment is not checked",
     "    if (!commentSigned)\n"
     "        return BadComment;\n",
     ""),
    ("other-key-called-changed-comment", "payload/MinisignSignature.cpp",
     "a signature made by another key carrying the trusted key's id is reported as a changed trusted comment",
     "    if (!fileSigned && !commentSigned)\n"
     "        return WrongKey;\n",
     ""),
    ("prehash-ignored", "payload/MinisignSignature.cpp",
     'a prehashed ("ED") signature is checked against the manifest itself',
     "    if (prehashed) {\n",
     "    if (false) {\n"),
    ("other-file-signature-unnamed", "payload/UpdatePackage.cpp",
     "the signature of another file is reported as a changed manifest",
     "    if (!signedName.isEmpty() && signedName != QLatin1String(UpdatePackage::kManifestName))\n",
     "    if (false)\n"),
    ("unsigned-under-policy", "payload/UpdatePackage.cpp",
     "an unsigned package is taken although the policy requires signatures",
     "    } else if (trust.requireSigned()) {\n",
     "    } else if (false) {\n"),
    ("unsigned-with-key-taken", "payload/UpdatePackage.cpp",
     "a package stripped of its signature is taken (with a warning) although a key is trusted",
     "    } else if (!trust.keys().isEmpty()) {\n",
     "    } else if (false) {\n"),
    ("policy-fails-open", "payload/TrustStore.cpp",
     'a policy whose "requireSigned" is "true", 1 or null requires nothing',
     "        mustBeSigned = !(require.isBool() && !require.toBool());\n",
     "        mustBeSigned = require.toBool(false);\n"),
    ("policy-unknown-key-silent", "payload/TrustStore.cpp",
     "a misspelt key in the policy is neither named nor taken as requiring signatures",
     "        if (it.key() != known)\n",
     "        if (false)\n"),
    ("manifest-duplicate-key-taken", "payload/PackageManifest.cpp",
     'a manifest naming "files" twice is taken (QJsonDocument keeps the last)',
     "    if (duplicateKey(bytes, twice)) {\n",
     "    if (false) {\n"),
    ("manifest-escaped-key-not-decoded", "payload/PackageManifest.cpp",
     'a key spelt with an escape ("\\u0076ersion") is not seen as the same key',
     "                ? QJsonDocument::fromJson('[' + raw + ']').array().at(0).toString()\n",
     "                ? QString::fromUtf8(raw)\n"),
    ("verify-manifest-text-raw", "cli/CliPackage.cpp",
     "verify prints the manifest's version with its escape sequences",
     "    out += QStringLiteral(\"Update:       %1\\n\").arg(Console::shown(m.version));\n",
     "    out += QStringLiteral(\"Update:       %1\\n\").arg(m.version);\n"),
    ("window-summary-raw", "engine/UpdateSource.cpp",
     "the main window shows the manifest's version with its control characters",
     "        .arg(ShownText::of(package.manifest.version), ShownText::of(QFileInfo(path).fileName()),\n",
     "        .arg(package.manifest.version, ShownText::of(QFileInfo(path).fileName()),\n"),
    ("window-log-raw", "window/DialogBootload.cpp",
     "the job log shows outside text with its control characters",
     "    const QString shown = ShownText::of(line, true);\n",
     "    const QString shown = line;\n"),
    ("window-log-markup", "window/DialogBootload.cpp",
     "a log line that looks like markup is read as markup (a version can hide text)",
     "    if (Qt::mightBeRichText(shown)) {\n",
     "    if (false) {\n"),
    ("manifest-path-unchecked", "payload/UpdatePackage.cpp",
     'a manifest naming a path with ".." is not refused for it',
     "        const QString bad = PackageArchive::pathProblem(f.path);\n",
     "        const QString bad;\n"),
    ("folder-for-file-taken", "payload/UpdatePackage.cpp",
     "a folder entry where the manifest names a file is not named as such",
     "        if (archive.folders.contains(f.path)) {\n",
     "        if (false) {\n"),
    ("missing-file-unnamed", "payload/UpdatePackage.cpp",
     "a file the manifest names but the package lacks is not named as missing",
     "        if (!archive.files.contains(f.path)) {\n",
     "        if (false) {\n"),
    ("file-size-unchecked", "payload/UpdatePackage.cpp",
     "a file of another size than the manifest's is not named for it",
     "        if (data.size() != f.size) {\n",
     "        if (false) {\n"),
    ("file-hash-unchecked", "payload/UpdatePackage.cpp",
     "a file whose SHA-256 differs from the manifest's is taken",
     "        if (hex256(data).toLatin1() != f.sha256) {\n",
     "        if (false) {\n"),
    ("folder-under-policy", "engine/UpdateSource.cpp",
     "the window sends a plain folder although the policy requires signed packages",
     "    if (requireSigned)\n",
     "    if (false)\n"),
    ("extra-file-taken", "payload/UpdatePackage.cpp",
     "a file the manifest does not name is taken",
     "        if (!p.manifest.file(it.key())) {\n",
     "        if (false) {\n"),
    # --- Version and the Linux package --------------------------------------
    ("about-without-version", "window/MainWindow.cpp",
     "Help > About names no version",
     '        .arg(QStringLiteral(ZQ_VERSION), QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion()));\n',
     '        .arg(QString(), QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion()));\n'),
    ("changelog-behind-version", "CMakeLists.txt",
     "the version moves on and the changelog does not name it",
     "project(zq-updater VERSION 0.9.0 LANGUAGES CXX)\n",
     "project(zq-updater VERSION 0.9.1 LANGUAGES CXX)\n"),
    ("payload-beside-usr-bin", "payload/PayloadDir.cpp",
     "an installed program takes its payload from /usr/bin",
     "    const QString dir = QDir::cleanPath(programDir);\n",
     "    const QString dir = programDir;\n"),
    ("permission-ignores-rule", "engine/PortProblem.cpp",
     "with the device rule installed, the message still says to join the group",
     "    if (p.ruleInstalled && p.adapter) {\n",
     "    if (false) {\n"),
    ("udev-rule-any-maker", "dist/linux/70-zq-updater.rules",
     "the rule's access tag goes on every USB serial port, not the adapters the tool takes",
     'SUBSYSTEM=="tty", KERNEL=="ttyUSB[0-9]*", ATTRS{manufacturer}=="*FTDI*", TAG+="uaccess"\n',
     'SUBSYSTEM=="tty", KERNEL=="ttyUSB[0-9]*", TAG+="uaccess"\n'),
    ("manual-drops-option", "docs/man/zq-update.1.md",
     "the manual page drifts from --help: an option missing",
     "* `--quiet`: Print only the final table and errors.\n",
     ""),
    # --- The unit confirms the update after "$X" ----------------------------
    ("confirm-any-version", SEQ,
     "a unit that answers another version than the update names after \"$X\" is confirmed",
     "    s.confirmation = answered && (expected.isEmpty() || version == expected)\n",
     "    s.confirmation = answered\n"),
    ("confirm-ends-unit-early", SEQ,
     "the unit is reported ended (updated) before its confirmation is over",
     "    if (inputs.confirmVersion && port->status.notUpdated.isEmpty()) {\n"
     "        startConfirmation(port);\n",
     "    if (inputs.confirmVersion && port->status.notUpdated.isEmpty()) {\n"
     "        endStatus(port);\n"
     "        startConfirmation(port);\n"),
    ("confirm-images-compared", SEQ,
     "an images-only job, which leaves the firmware as it was, wants the update's version",
     "    const QString expected = firmwareJob ? inputs.expectedVersion : QString();\n",
     "    const QString expected = inputs.expectedVersion;\n"),
    ("confirm-bootloader-acts", SEQ,
     "bootloader replies during the confirmation act on the job (\"$Bootloader\" restarts it)",
     "    if (port->jobState == JobState::ConfirmVersion) {\n"
     "        // The unit left its bootloader: only its firmware's version counts.\n"
     "        if (word == ReplyWord::MverR) {\n",
     "    if (port->jobState == JobState::ConfirmVersion && word == ReplyWord::MverR) {\n"
     "        {\n"),
    ("confirm-unplugged-not-updated", SEQ,
     "an adapter unplugged during the confirmation makes the updated unit \"connection lost\"",
     "    if (port->jobState == JobState::ConfirmVersion) {\n"
     "        // The update was written: the unit stays updated, only not confirmed.\n",
     "    if (false) {\n"
     "        // The update was written: the unit stays updated, only not confirmed.\n"),
    ("require-confirm-ignored", "cli/CliJob.cpp",
     "--require-confirm does not make a unit that is not confirmed exit 1",
     "    return !runner.unit(unit).interrupted && status.stage == UnitStatus::Updated\n"
     "        && !(options.requireConfirm && status.notConfirmed());\n",
     "    return !runner.unit(unit).interrupted && status.stage == UnitStatus::Updated;\n"),
    ("table-hides-not-confirmed", "engine/UnitRecord.cpp",
     "the table shows a unit that is not confirmed as plainly \"updated\"",
     "    if (result == QLatin1String(\"updated\") && confirmation == QLatin1String(\"not confirmed\"))\n",
     "    if (false)\n"),
    ("interrupt-confirming-in-bootloader", "engine/JobProgress.cpp",
     "Ctrl-C during the confirmation names the updated unit as left in its bootloader",
     "    if (jobState == JobState::ConfirmVersion)\n"
     "        return LeftOnUnit::Nothing;\n",
     "    if (false)\n"
     "        return LeftOnUnit::Nothing;\n"),
    ("sim-new-version-always", "tools/unit-sim/SimUnit.cpp",
     "the simulated unit answers the update's version after \"$X\" though its flash does not hold it",
     "    return holds && !updated.isEmpty() ? updated : config.versionText;\n",
     "    return !updated.isEmpty() ? updated : config.versionText;\n"),
    ("completion-no-files-for-log", "dist/linux/zq-update.bash-completion",
     "bash completion offers no file names after --log",
     "        --package|--key|--station|--log|--report|verify|import)\n",
     "        --package|--key|--station|--report|verify|import)\n"),

    # --- Hostile input: what is read, written and shown ---------------------
    ("sigpipe-not-ignored", "cli/SignalRelayPosix.cpp",
     "a reader that goes away (piped into head) kills the job with SIGPIPE",
     "    ::signal(SIGPIPE, SIG_IGN);\n",
     ""),
    ("report-write-unchecked", "engine/FileWritePosix.cpp",
     "a report write that failed (a full disk) still replaces the old report",
     "    bool ok = writeAll(fd, bytes.constData(), bytes.size(), written) && ::fsync(fd) == 0;\n",
     "    bool ok = (writeAll(fd, bytes.constData(), bytes.size(), written), true);\n"),
    ("report-failure-exit-0", "cli/CliClosing.cpp",
     "a report that could not be written leaves the exit status 0",
     "            if (exitStatus == 0)\n                exitStatus = 1; // the report asked for is missing\n",
     ""),
    ("log-partial-kept", "engine/FileWritePosix.cpp",
     "a record only partly appended (a full disk) stays in the log as half a line",
     "            [[maybe_unused]] const int ignored = ::ftruncate(fd, before);\n",
     "            (void)before;\n"),
    ("log-record-after-half-line", "engine/FileWritePosix.cpp",
     "a record goes on the end of a last line that lacks its line feed",
     "        bytes.prepend('\\n'); // the half line before stays a line of its own\n",
     "        (void)bytes;\n"),
    ("output-onto-input", "engine/FileWritePosix.cpp",
     "--report or --log may name fw1.bin, settings.json, an image or the other output",
     "        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;\n",
     "        return false;\n"),
    ("write-through-link", "engine/FileWritePosix.cpp",
     "run as root, --report and --log write through a symbolic link",
     "        if (::geteuid() == 0)\n            return QStringLiteral(\"%1 is a symbolic link; run as root",
     "        if (false)\n            return QStringLiteral(\"%1 is a symbolic link; run as root"),
    ("write-onto-fifo", "engine/FileWritePosix.cpp",
     "--report or --log may name a FIFO, a device or a folder",
     "    if (!S_ISREG(st.st_mode))\n        return QStringLiteral(\"%1 is %2; name a regular file\")",
     "    if (false)\n        return QStringLiteral(\"%1 is %2; name a regular file\")"),
    ("read-not-regular", "payload/FileReadPosix.cpp",
     "a FIFO or a device is read as a payload file",
     "    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {\n",
     "    if (::fstat(fd, &st) != 0) {\n"),
    ("read-without-limit", "payload/ReadLimits.h",
     "settings.json is read however large it is",
     "constexpr qint64 kSettingsBytes = 1 << 20; // settings.json\n",
     "constexpr qint64 kSettingsBytes = qint64(1) << 40; // settings.json\n"),
    ("image-entries-unlimited", "payload/Settings.cpp",
     "settings.json may name any number of images",
     "    if (images.size() > ReadLimits::kImageEntries)\n",
     "    if (false)\n"),
    ("image-number-over-255", "payload/Settings.cpp",
     "an ImageName or ImageVersion over 255 passes the check",
     "    if (!value.isDouble() || number < 0 || number > kLargestNumber\n",
     "    if (!value.isDouble() || number < 0\n"),
    ("file-name-climbs-out", "payload/Settings.cpp",
     'a FileName with ".." is taken',
     "    if (parts.contains(QStringLiteral(\"..\")))\n",
     "    if (false)\n"),
    ("image-link-outside", "engine/JobPayload.cpp",
     "an image that is a link out of the payload folder is read",
     "        if (checked && !inside(path, dir)) {\n",
     "        if (false) {\n"),
    ("terminal-text-raw", "payload/ShownText.cpp",
     "slot, port and link names reach the terminal with their escape sequences",
     "        if (!control || (keepLineFeeds && u == '\\n'))\n",
     "        if (true)\n"),
    ("lock-fifo-opened", "engine/SerialLink.cpp",
     "a FIFO as the port's lock file holds the open for ever",
     "    const QString lock = PortProblem::lockFileProblem(PortProblem::devicePath(path));\n",
     "    const QString lock;\n"),
    ("confirmation-on-closed-port", SEQ,
     "the version is asked after \"$X\" on the port closed after it (the unit never hears it)",
     "    reopenAt(port, kVersionBaud);\n",
     "    port->link.setSpeed(kVersionBaud);\n"),
    ("watch-starts-all-at-once", "engine/StationWatch.h",
     "--watch starts thousands of jobs in one pass: SIGTERM waits for them all",
     "    static constexpr int kStartsPerPass = 32;\n",
     "    static constexpr int kStartsPerPass = 1 << 30;\n"),
    ("timeout-never-armed", "cli/CliJob.cpp",
     "--timeout is read but never ends the run",
     "    if (runLimit.interval() > 0)\n        runLimit.start();\n",
     ""),
    ("not-serial-called-in-use", "engine/PortProblem.cpp",
     "/dev/null as a port is called in use by another program",
     "    if (p.notSerial)\n        return QStringLiteral(\"%1 is not a serial port (%2)\")",
     "    if (false)\n        return QStringLiteral(\"%1 is not a serial port (%2)\")"),
    # --- One reading of every input ------------------------------------------
    ("firmware-read-again", SEQ,
     "the job reads fw1.bin again for every line: another file copied over it meanwhile is sent in part",
     "    const QByteArray &firmware = inputs.firmware;\n",
     "    QByteArray firmware;\n"
     "    FirmwareFile::read(inputs.images.value(0).fileName.section(QLatin1Char('/'), 0, -2)\n"
     "            + QStringLiteral(\"/fw1.bin\"),\n"
     "        firmware);\n"),
    ("record-hashes-reread", "engine/UnitRecord.cpp",
     "the record hashes each image read again by path with a blocking open: a FIFO hangs the program",
     '#include <QSysInfo>\n\n// The digests are of the bytes the job sends, read once: fw1.bin\'s as the\n// engine got them, each image\'s as the reader parsed it.\nUnitRecord::Update UnitRecord::describe(UpdateMode mode, const QString &version,\n    const QByteArray &firmware, const QString &dir, const QList<ImageRecord> &images)\n{\n    Update u;\n    u.version = version;\n    u.mode = mode;\n    if (mode == UpdateMode::FirmwareAndImages)\n        u.firmware = { QStringLiteral("fw1.bin"), sha256(firmware) };\n    if (mode != UpdateMode::DeleteImages)\n        for (const ImageRecord &image : images)\n            u.images.append(\n                { QDir(dir).relativeFilePath(image.fileName), QString::fromLatin1(image.sha256) });\n',
     '#include <QFile>\n#include <QSysInfo>\n\n// The digests are of the bytes the job sends, read once: fw1.bin\'s as the\n// engine got them, each image\'s as the reader parsed it.\nUnitRecord::Update UnitRecord::describe(UpdateMode mode, const QString &version,\n    const QByteArray &firmware, const QString &dir, const QList<ImageRecord> &images)\n{\n    Update u;\n    u.version = version;\n    u.mode = mode;\n    if (mode == UpdateMode::FirmwareAndImages)\n        u.firmware = { QStringLiteral("fw1.bin"), sha256(firmware) };\n    if (mode != UpdateMode::DeleteImages)\n        for (const ImageRecord &image : images)\n            u.images.append(\n                { QDir(dir).relativeFilePath(image.fileName), [&image] {\n                     QFile again(image.fileName);\n                     if (!again.open(QIODevice::ReadOnly))\n                         return QString();\n                     return sha256(again.readAll());\n                 }() });\n'),
    ("package-settings-unchecked", "engine/JobPayload.cpp",
     "a package's settings.json entries the protocol can't carry (ImageName 300) pass --check and verify",
     "    if (!entryProblems.isEmpty())\n        return { Problem::Settings, entryProblems.join",
     "    if (false)\n        return { Problem::Settings, entryProblems.join"),
    ("unsendable-image-taken", "engine/JobPayload.cpp",
     "an image that can't be sent (missing, a FIFO) passes --check; the run writes the firmware and fails at the end",
     "        if (!image.problem.isEmpty())\n            unsendable << image.problem;\n",
     ""),
    ("window-settings-fifo-read", "window/MainWindow.cpp",
     "the window reads the file it remembers its last update in whatever it is: a FIFO there holds it for ever",
     "    if (!settingsUsable())\n        return QString();\n",
     ""),
    ("signal-before-start-lost", "cli/main.cpp",
     "Ctrl-C during the payload check is lost: the run goes on, no report says it was interrupted",
     "        if (signalBeforeStart == 0)\n            return false;\n",
     "        return false;\n"),
    ("same-port-twice", "cli/main.cpp",
     "one port named twice (/dev/pts/6, pts/6) is opened twice",
     "                [&t](const UnitTarget &other) { return other.device == t.device; }))\n",
     "                [&t](const UnitTarget &other) { return other.device == t.device && false; }))\n"),
    ("hangup-ends-job", "cli/SignalRelayPosix.cpp",
     "a closed terminal (SIGHUP) stops every job as Ctrl-C does",
     "        if (byte == SIGHUP)\n            emit terminalLost();\n        else\n            emit interrupted(byte);\n",
     "        emit interrupted(byte);\n"),
    ("all-clear-after-bootloadm", "engine/JobProgress.cpp",
     '"No unit was left in its bootloader." after "$BOOTLOADM" went out in the version query',
     "    if (bootloaderAsked || !querying)\n",
     "    if (!querying)\n"),
    ("outputs-miss-inputs", "cli/main.cpp",
     "--report and --log compared only with the payload's files: the trusted key or the package is overwritten",
     "    QStringList inputs = InputFiles::all();\n"
     "    inputs << payload.firmwarePath << options.payloadDir + QStringLiteral(\"/settings.json\")\n"
     "           << options.stationFile << options.packageFile << options.keyFiles;\n",
     "    QStringList inputs { payload.firmwarePath,\n"
     "        options.payloadDir + QStringLiteral(\"/settings.json\"), options.stationFile };\n"),
    ("output-folders-unchecked", "engine/FileWritePosix.cpp",
     "only an output's last part is looked at: a link planted in a parent folder is written through",
     "    const QString folders = folderProblem(path);\n",
     "    const QString folders;\n"),
    ("root-trusts-open-folders", "engine/FileWritePosix.cpp",
     "run as root, an output goes into a folder another user owns or all may write",
     "    if (::geteuid() != 0)\n        return QString();\n    if (st.st_uid != 0)\n",
     "    if (true)\n        return QString();\n    if (st.st_uid != 0)\n"),
    ("outputs-checked-after-job", "engine/FileWritePosix.cpp",
     "a report or log in a read-only folder is found out only after the units are updated",
     "    if (::faccessat(AT_FDCWD,",
     "    if (false && ::faccessat(AT_FDCWD,"),
    ("empty-value-ignored", "cli/CliOptions.cpp",
     '--report "", --key "" and the like run on without what they name',
     "        if (values.contains(QString()))\n",
     "        if (false)\n"),
    ("repeat-last-wins", "cli/CliOptions.cpp",
     "--mode images --mode erase-images erases the images: the last value silently wins",
     "        if (!repeatable && values.size() > 1",
     "        if (false && values.size() > 1"),
    ("options-apply-everywhere", "cli/CliOptions.cpp",
     "--check --report, verify --port and list --report are silently accepted",
     "        if (row == std::end(kApplies) || (row->commands & command) == 0)\n",
     "        if (false)\n"),
    ("package-output-in-folder", "tools/package/main.cpp",
     "zq-make-package pay pay/fw1.bin replaces the firmware",
     "    if (!folder.isEmpty() && !outFolder.isEmpty()\n",
     "    if (false && !outFolder.isEmpty()\n"),
    ("package-packs-package", "tools/package/PackageMaker.cpp",
     "a package left in the payload folder is packed into the next one",
     "        if (isPackageOutput(rel, e.data)) {\n",
     "        if (false) {\n"),
    ("package-skips-bad-names", "tools/package/PackageMaker.cpp",
     "a file whose name is not UTF-8 is left out of the package without a word",
     "    if (!notUtf8.isEmpty()) {\n",
     "    if (false) {\n"),
    ("package-broken-settings-no-version", "tools/package/main.cpp",
     'a broken settings.json is reported as "no version"',
     "            if (!settings.problem.isEmpty() && QFileInfo::exists(settingsPath))\n",
     "            if (false)\n"),
    # --- Broken and hostile input, round three: what is read and what is said
    ("image-value-not-a-byte", "payload/ImageReader.cpp",
     'an image value that is no byte ("0xZZ", "0x1234", "12") is read as one, or dropped, and sent',
     "            if (token != Empty && damagedAt < 0 && (token != Hex || digits < 1 || digits > 2))\n",
     "            if (false)\n"),
    ("version-number-as-default", "payload/Settings.cpp",
     'a "Version" that is no text (3) silently becomes "D.02n"',
     "    if (!version.isUndefined() && !version.isString()) {\n",
     "    if (false) {\n"),
    ("image-name-twice-taken", "payload/Settings.cpp",
     "two entries with the same ImageName are both sent: the second replaces the first on the unit",
     "            if (first > 0)\n",
     "            if (false)\n"),
    ("file-name-folder-taken", "payload/Settings.cpp",
     'a FileName "." or "img/" is taken as an image file',
     "    if (parts.last().isEmpty() || parts.last() == QLatin1String(\".\"))\n",
     "    if (false)\n"),
    ("payload-file-taken-as-folder", "engine/JobPayload.cpp",
     "--payload naming a file or nothing is read as a folder (\"fw1.bin/fw1.bin is missing\", erasing \"can be used\")",
     "    if (!folderInfo.isDir()) {\n",
     "    if (false) {\n"),
    ("unreadable-key-called-missing", "payload/UpdatePackage.cpp",
     'a key file the user may not read is reported as "no trusted key was found"',
     "    if (!key && !trust.unreadable.isEmpty())\n",
     "    if (false)\n"),
    ("built-in-port-told-to-join-root", "engine/PortProblem.cpp",
     "a built-in port kept for root gets the adapter's advice: plug it in again, join the group root",
     "    if (!p.adapter && !p.groupMayUse)\n",
     "    if (false)\n"),
    ("junk-lock-file-trusted", "engine/PortProblemPosix.cpp",
     "a lock file with no process id is not named: the port is refused as in use by an unrelated process",
     "        if (pid == 0)\n",
     "        if (false)\n"),
    ("names-not-utf8-decoded-lossy", "payload/RawNamesPosix.cpp",
     "an argument whose bytes are not UTF-8 is decoded with replacement characters: its folder or port is not found",
     "        if (isUtf8(raw[i]))\n",
     "        if (true)\n"),
    ("folder-without-update-shown-as-default", "engine/UpdateSource.cpp",
     'a folder without settings.json is shown as "Update D.02n"',
     "        if (!settings.problem.isEmpty())\n            return QStringLiteral(\"No update in the folder",
     "        if (false)\n            return QStringLiteral(\"No update in the folder"),
    ("nothing-open-runs-anyway", "engine/UpdateSource.cpp",
     "with nothing open (an installed window) a job that sends files starts anyway",
     "    if (path.isEmpty() && mode != UpdateMode::DeleteImages)\n",
     "    if (false)\n"),
    ("buttons-keep-form-width", "window/MainWindow.cpp",
     "the buttons keep the form's widths: a wider font cuts their texts",
     "        button->setMinimumWidth(qMax(button->minimumWidth(), button->sizeHint().width()));\n",
     "        button->setMinimumWidth(button->minimumWidth());\n"),
    ("copies-cost-without-waits", "engine/JobSummary.cpp",
     "the cost of the copies sent again leaves out the waits before them",
     "    return static_cast<double>(t.againWaitNs) / 1e9\n",
     "    return 0\n"),
    ("unit-table-keeps-form-width", "window/UnitTable.cpp",
     "the unit table keeps the form's width: the versions' texts squeeze the progress bar out of view",
     "    fitWidth();\n",
     ""),
    ("version-column-before-update", "window/UnitTable.cpp",
     "the unit table shows the version from before the update, unconfirmed",
     "    table->item(row, ColVersion)->setText(status.versionText());\n",
     "    table->item(row, ColVersion)->setText(status.version);\n"),

    # --- One record of a unit's job ------------------------------------------
    ("record-port-short-name", "engine/UnitRunner.cpp",
     "the window's history names the port as Qt shortens it (pts/4), not as --log and the report name it",
     "    r.port = unit.path;\n",
     "    r.port = unit.port->portName();\n"),
    ("record-stages-dropped", "engine/UnitRunner.cpp",
     "the records leave out the stages the job went through",
     "    r.stages = unit.stages;\n",
     ""),
    ("package-problem-kind-lost", "payload/UpdatePackage.cpp",
     "a package that is not signed under the policy is refused as a damaged one",
     "        p.problem = { Problem::Unsigned, text };\n",
     "        p.problem = { Problem::Damaged, text };\n"),
    # --- Typed job states: one member per step, the runner's questions -------
    ("erase-wait-in-image-step", SEQ,
     'sending "$A,1" moves the image step, not the erase step (the two once shared one int): '
     'the erase is asked again instead of timing out',
     "        port->eraseStep = EraseStep::Wait;\n"
     "        port->stepCountdown = kEraseReplySteps;\n",
     "        port->imageStep = ImageStep::Chunks;\n"
     "        port->stepCountdown = kEraseReplySteps;\n"),
    ("left-on-unit-swapped", "cli/CliLeftOver.cpp",
     "a stopped run names the units in their bootloader as told to start it, and the other way round",
     "        case LeftOnUnit::InBootloader: captured << what; break;\n"
     "        case LeftOnUnit::Restarting: restarting << what; break;\n",
     "        case LeftOnUnit::InBootloader: restarting << what; break;\n"
     "        case LeftOnUnit::Restarting: captured << what; break;\n"),
    ("mode-names-swapped", "payload/UpdateMode.cpp",
     '"images" and "erase-images" name each other\'s mode (command line, manifest, records)',
     "    case UpdateMode::ImagesOnly: return QStringLiteral(\"images\");\n"
     "    case UpdateMode::DeleteImages: return QStringLiteral(\"erase-images\");\n",
     "    case UpdateMode::ImagesOnly: return QStringLiteral(\"erase-images\");\n"
     "    case UpdateMode::DeleteImages: return QStringLiteral(\"images\");\n"),
    ("lost-connection-not-ended", "engine/UnitStatus.h",
     "a unit whose adapter went away is not over: its run waits for it",
     "stage == Updated || stage == NotUpdated || stage == ConnectionLost;",
     "stage == Updated || stage == NotUpdated;"),
    # --- Records database ------------------------------------------------
    ("records-uuid-random", "records/RecordStore.cpp",
     "a record without a UUID gets a random one: importing a --log file twice stores it twice",
     "    return QUuid::createUuidV5(kRecordNamespace, QJsonDocument(content).toJson(QJsonDocument::Compact))\n",
     "    return QUuid::createUuid()\n"),
    ("records-outbox-kept", "records/RecordOutbox.cpp",
     "records the server committed stay in the outbox and go again on every pass",
     "        if (!local.delivered(ids, pass.error))\n            break;\n",
     "        break;\n"),
    ("records-missing-field-null", "records/RecordStore.cpp",
     "a field an older record lacks is stored as NULL: the NOT NULL column refuses the record",
     "    return text.isNull() ? QStringLiteral(\"\") : text;\n",
     "    return text;\n"),
    ("records-password-taken", "records/RecordsConfig.cpp",
     "a password in the connection string's URL is passed on instead of refused",
     "        if (!url.password().isEmpty()) {\n",
     "        if (false) {\n"),
    ("records-table-raw", "records/RecordQuery.cpp",
     "zq-update history shows another station's slot, serial or host with its control characters "
     "(C1's CSI, a right-to-left override)",
     '    return s.isEmpty() ? QStringLiteral("-") : ShownText::of(s);\n',
     '    return s.isEmpty() ? QStringLiteral("-") : s;\n'),
]


def find(name):
    for m in MUTANTS:
        if m[0] == name:
            return m
    sys.exit(f"mutants.py: no mutant named {name}")


def resolve(root, rel, original):
    """The file a mutant changes: rel, or the one file its pattern names that holds its text."""
    if "*" not in rel:
        return rel
    holders = [p for p in sorted(Path(root).glob(rel)) if original in p.read_text(encoding="utf-8")]
    return str(holders[0].relative_to(root)) if len(holders) == 1 else rel


def apply(root, name):
    _, rel, _, original, replacement = find(name)
    rel = resolve(root, rel, original)
    path = Path(root) / rel
    if not path.is_file():
        print(f"{rel} is missing")
        return 3
    text = path.read_text(encoding="utf-8")
    count = text.count(original)
    if count != 1:
        print(f"its text is found {count} times in {rel}")
        return 3
    path.write_text(text.replace(original, replacement), encoding="utf-8")
    return 0


def hint(table, name):
    """The killer an earlier table names for NAME: its "Killed by" cell when
    that names a test ("tst_engine: script", "tst_kit")."""
    column = None
    for line in Path(table).read_text(encoding="utf-8").splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if "Killed by" in cells:
            column = cells.index("Killed by")
        elif column is not None and cells and cells[0] == f"`{name}`" and len(cells) > column:
            if re.fullmatch(r"tst_\w+(: \w+)?", cells[column]):
                return cells[column]
    return ""


def run_one(build, test, function=None):
    """Runs one test as CTest would (its command, folder and environment),
    with only FUNCTION of a Qt Test program when one is given; 125 when the
    program has no such function."""
    listing = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, check=True,
                             capture_output=True, text=True).stdout
    for t in json.loads(listing)["tests"]:
        if t["name"] != test:
            continue
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        cwd = build
        for prop in t.get("properties", []):
            if prop["name"] == "ENVIRONMENT":
                env.update(v.split("=", 1) for v in prop["value"])
            elif prop["name"] == "WORKING_DIRECTORY":
                cwd = prop["value"]
        if function:
            listed = subprocess.run(t["command"][:1] + ["-functions"], cwd=cwd, env=env,
                                    capture_output=True, text=True).stdout.split()
            if f"{function}()" not in listed:
                print(f"{test} has no test function {function}")
                return 125
        command = t["command"] + ([function] if function else [])
        try:
            return subprocess.run(command, cwd=cwd, env=env, timeout=300).returncode
        except subprocess.TimeoutExpired:
            print(f"{test} {function or ''}: timed out after 300 s")
            return 1
    print(f"mutants.py: no test named {test}", file=sys.stderr)
    return 2


def main(argv):
    if len(argv) >= 1 and argv[0] == "list":
        for name, rel, what, _, _ in MUTANTS:
            print(f"{name:28} {rel:28} {what}")
        return 0
    if len(argv) >= 1 and argv[0] == "names":
        for m in MUTANTS:
            print(m[0])
        return 0
    if len(argv) in (2, 3) and argv[0] == "file":
        m = find(argv[1])
        print(resolve(argv[2], m[1], m[3]) if len(argv) == 3 else m[1])
        return 0
    if len(argv) == 2 and argv[0] == "what":
        print(find(argv[1])[2])
        return 0
    if len(argv) == 3 and argv[0] == "apply":
        return apply(argv[1], argv[2])
    if len(argv) == 3 and argv[0] == "hint":
        print(hint(argv[1], argv[2]))
        return 0
    if len(argv) in (3, 4) and argv[0] == "run-one":
        return run_one(*argv[1:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    assert len({m[0] for m in MUTANTS}) == len(MUTANTS), "mutant names must differ"
    sys.exit(main(sys.argv[1:]))
