#pragma once
// What a port's job record must look like after any reply stream: the checks
// the receive-path fuzz target and the fault regression tests apply.
#include "payload/ImageRecord.h"

#include <QList>

class PortTest;

namespace JobInvariants {

// Why the record is not a valid one (for the finding's message), or nullptr:
// every enum member in range, the address a data-line address within
// 0x1000..0xE0000, the image index at most the image count, the image offset
// a chunk offset inside the current image (0 past the last), and no negative
// counter.
const char *violation(const PortTest &port, const QList<ImageRecord> &images);

} // namespace JobInvariants
