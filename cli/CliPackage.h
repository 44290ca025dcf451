#pragma once
// The payload of an update package (--package) for the command line, or the
// trust check of a plain payload folder: the package is opened and checked in
// memory with the trusted keys and the policy, and what passes becomes the
// job's inputs, fw1.bin held in a sealed memory file the engine reads.
// "zq-update verify FILE" prints what a package holds.
#include "CliOptions.h"
#include "CliPayload.h"
#include "engine/UnitRecord.h"

class SealedFile;

namespace CliPackage {

// The payload for options: the package's when one is named, else the folder's
// (CliPayload::read) checked against the policy. problem says why nothing can
// start; firmware holds the package's fw1.bin while the job runs.
CliPayload read(const CliOptions &options, SealedFile &firmware);

// The record's description of a package's update: version, mode, and the files'
// SHA-256 from the bytes checked.
UnitRecord::Update describe(const CliOptions &options, const CliPayload &payload);

// "verify FILE": the manifest and the signer on standard output; empty when
// every check passed, else the refusal.
QString verify(const CliOptions &options);

} // namespace CliPackage
