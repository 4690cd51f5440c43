#pragma once

#include "io/journal/JournalConnection.h"
#include "io/journal/JournalResult.h"

namespace quenta {

// The schema version this program writes: the number of steps it knows.
int latestJournalVersion();

// Brings a journal to the latest schema in one transaction: the table schema(version) is made when
// missing, and the steps after the version it holds are applied (version 1 is the first step:
// the tables jobs and series). Several programs may do it at once. The version found before (0
// for a new journal), or why it could not be done; a journal newer than this program is refused.
JournalResult<int> migrateJournal(JournalConnection &connection);

// Why a reader finds no journal, and what makes one.
QString journalNotMade();

// The schema version a journal holds, read without changing anything, when it is the latest: a
// journal without tables, or of another version, is refused with the reason and what brings it
// about.
JournalResult<int> readableJournalVersion(JournalConnection &connection);

} // namespace quenta
