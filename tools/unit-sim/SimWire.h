#pragma once
// The serial wire's timing as the simulated unit models it: ten bits a byte
// (8N1) at the stage's speed.
#include <QtGlobal>

namespace SimWire {
// How long bytes take on the wire at baud; 0 when the speed is not known.
inline qint64 lineUs(int bytes, int baud)
{
    return baud > 0 ? static_cast<qint64>(bytes) * 10 * 1000000 / baud : 0;
}
} // namespace SimWire
