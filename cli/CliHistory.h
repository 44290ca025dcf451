#pragma once
// The records commands of zq-update: "history" (the records, newest first,
// filtered; a table, --json or --csv), "records sync" (the outbox to the
// plant's server) and "records import FILE" (a --log file or history.jsonl).
struct CliOptions;

namespace CliHistory {

// Each returns the exit status: 0 done, 1 done in part (records left in the
// outbox, lines that were no record), 2 nothing done.
int history(const CliOptions &options);
int sync(const CliOptions &options);
int import(const CliOptions &options);

} // namespace CliHistory
