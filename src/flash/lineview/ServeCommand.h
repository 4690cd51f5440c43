#pragma once

#include "flash/frame/ServeSettings.h"
#include "io/journal/JournalPlace.h"

namespace quenta::flash {

// The serve command: opens the journal read only (a journal that is not there or not of this
// version is refused, exit 6), listens (exit 3 when it cannot), prints the address to open on
// standard output and answers until SIGINT, SIGTERM or SIGHUP, then returns 0.
int serveJournal(const JournalPlace &place, const ServeSettings &settings);

} // namespace quenta::flash
