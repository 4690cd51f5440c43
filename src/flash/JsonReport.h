#pragma once

#include "flash/Report.h"

#include <QByteArray>

namespace quenta::flash {

// The report as one JSON object on one line: "command", "ok", "exit" and "boards" (each with
// "port", "address" (null without Modbus), "version", "result", "lines", "commands", "retries",
// "resumed", "seconds", "message"); "checks" for check, "ports" for ports, and "message" for a
// command line that was not understood.
QByteArray jsonReport(const RunReport &report);

} // namespace quenta::flash
