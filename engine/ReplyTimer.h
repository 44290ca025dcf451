#pragma once
// The resend time-out of one kind of line on one port, learned from that
// port's own replies the way a transport protocol times its retransmissions:
// a smoothed reply time plus four times its variation (and at least twice the
// smoothed time and one and a half times the slowest recent reply), never
// below a floor that stays above an adapter's latency jitter (lower once the
// port's replies have shown that jitter). Only lines sent once give a sample,
// so a reply is never matched with the wrong copy.
#include <QtGlobal>

class ReplyTimer
{
public:
    // A reply took ns after its line went out.
    void sample(qint64 ns);
    // Enough samples to trust the time-out.
    bool learned() const;
    // The learned time-out in ns (meaningful once learned()).
    qint64 timeoutNs() const;
    int samples() const { return count; }

private:
    qint64 smoothed = 0; // ns
    qint64 variation = 0; // ns
    qint64 peak = 0; // ns
    int count = 0;
};
