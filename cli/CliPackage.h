#pragma once
// The payload of an update package (--package) for the command line, or the
// trust check of a plain payload folder: the package is opened and checked in
// memory with the trusted keys and the policy, and what passes becomes the
// job's inputs, fw1.bin held in a sealed memory file the engine reads.
// "zq-update verify FILE" prints what a package holds.
#include "CliOptions.h"
#include "engine/JobPayload.h"

struct UpdateSource;

namespace CliPackage {

// The payload for options: the package's when one is named, else the folder's
// (JobPayload::read) checked against the policy. problem says why nothing can
// start; package holds the package's fw1.bin while the job runs.
JobPayload read(const CliOptions &options, UpdateSource &package);

// "verify FILE": the manifest and the signer on standard output; none when
// every check passed, else the refusal.
Problem verify(const CliOptions &options);

} // namespace CliPackage
