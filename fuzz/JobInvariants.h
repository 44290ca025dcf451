#pragma once
// What a port's job record must look like after any reply stream: the checks
// the receive-path fuzz target applies.
class UnitJob;
struct JobInputs;

namespace JobInvariants {

// Why the record is not a valid one (for the finding's message), or nullptr:
// every enum member in range, the address a data-line address within
// 0x1000..0xE0000, the image index at most the image count, the image offset
// a chunk offset inside the current image (0 past the last), no negative
// counter; a version confirmation only when the job asks for one, only of a
// unit updated in full, decided only once the job has ended, and "confirmed"
// only with the version the update names.
const char *violation(const UnitJob &port, const JobInputs &inputs);

} // namespace JobInvariants
