#pragma once
// "zq-update list [--json]": every serial port the system shows (and every one
// linked from the stable-name folder) with what identifies it, whether the
// tool takes it, and why one can't be opened.
#include "engine/Adapter.h"

#include <QByteArray>
#include <QList>

namespace CliList {

QByteArray text(const QList<Adapter> &adapters);
QByteArray json(const QList<Adapter> &adapters);

} // namespace CliList
