#pragma once

#include "flash/frame/Settings.h"
#include "io/journal/JournalPlace.h"

namespace quenta::flash {

// The log command: the jobs of the journal that match the query, newest first, printed on standard
// output as a table (below a line "journal: URL"), CSV or JSON (the journal then named on standard
// error). The journal is only read: no file, folder or table is made. Returns the exit status: 2
// for a --firmware file that cannot be read, 1 when --serial N finds no job, kNotRecorded when the
// journal cannot be opened or read or the list cannot be written; each said on standard error
// alone.
int printJobLog(const JournalPlace &place, const LogQuery &query);

} // namespace quenta::flash
