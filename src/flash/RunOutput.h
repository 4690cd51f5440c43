#pragma once

#include "flash/Report.h"

namespace quenta::flash {

// Prints the report once: JSON or text on standard output; a command line that was not understood
// also goes to standard error in words. Returns the exit status.
int printReport(const RunReport &report, bool json);

} // namespace quenta::flash
