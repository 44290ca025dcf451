#pragma once
// The seeded source of every random fault decision of one simulated unit. The
// same seed and the same traffic give the same decisions; each decision taken
// is kept in a trace (and folded into a digest) so runs can be compared.
#include <QStringList>
#include <random>

class FaultDice
{
public:
    explicit FaultDice(quint32 seed)
        : engine(seed)
    {
    }

    // True with probability share (0 never draws). what and index name the
    // decision in the trace, e.g. ("drop-line", 17).
    bool roll(double share, const char *what, qint64 index);
    // A number in 0..n-1, for the content of noise lines.
    int pick(int n);

    const QStringList &trace() const
    {
        return decisions;
    }
    quint64 digest() const
    {
        return hash;
    }

private:
    std::mt19937 engine;
    QStringList decisions; // the first kTraceLimit decisions taken
    quint64 hash = 14695981039346656037ull;
    static constexpr int kTraceLimit = 10000;
};
