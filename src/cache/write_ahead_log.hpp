// How the cache's database keeps its journal: the write-ahead log on a local disk, kept short,
// and the rollback journal where the log is unsafe. Failures here cost speed only.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <string>

namespace tavrin {

// Where the file system is shared between hosts, the write-ahead log is unsafe even for
// readers (its index lives in shared memory): a file left in that mode goes back to the
// rollback journal.
void leave_write_ahead_log_on_network(sqlite3* connection, const std::string& database);

// Write-ahead logging makes a commit cost no fsync on a local disk; where it is unsafe or
// impossible (no right to create the log beside the file), the rollback journal stays. Called
// before the connection's first write, so that readers pay nothing for it.
void choose_journal_for_writing(sqlite3* connection, const std::string& database);

// A large row leaves a log as large behind, which every process that opens the file first
// would read through: it is folded into the file and the log truncated at once (skipped when
// readers still use it; SQLite's own checkpoints follow later).
void fold_log_after_large_row(sqlite3* connection, std::size_t row_bytes);

}  // namespace tavrin
