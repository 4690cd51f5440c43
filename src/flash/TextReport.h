#pragma once

#include "flash/Report.h"

#include <QString>

namespace quenta::flash {

// The report for people, one line per board (and per check, per port), ending in a line end.
QString textReport(const RunReport &report);

} // namespace quenta::flash
