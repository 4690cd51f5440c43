#pragma once

#include "io/PortListing.h"
#include "pure/JobResult.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace quenta::flash {

// What became of one board.
struct BoardReport {
    QString port;
    std::optional<int> address; // Modbus only
    QString version;            // the bootloader's answer to the info command, line end removed
    JobResult result = JobResult::Ok;
    int lines = 0;    // records in the file
    int commands = 0; // commands sent once the bootloader had answered, re-sends included
    int retries = 0;  // re-sends after a missing answer
    int resumed = 0;  // times the job went on after the port came back
    double seconds = 0.0;
    QString message;
};

// One finding of the pre-flight check.
struct CheckEntry {
    QString port;
    QString name;
    bool ok = false;
    QString message;
};

// Everything a run reports, printed once at its end.
struct RunReport {
    QString command;
    std::vector<BoardReport> boards;
    std::vector<CheckEntry> checks; // check only
    std::vector<ListedPort> ports;  // ports only
    QString usageError;             // set when the command line was not understood
    int signal = 0;                 // the signal that stopped the run; 0 if none

    int exit() const;
};

// The report as one JSON object on one line: "command", "ok", "exit" and "boards" (each with
// "port", "address" (null without Modbus), "version", "result", "lines", "commands", "retries",
// "resumed", "seconds", "message"); "checks" for check, "ports" for ports, and "message" for a
// command line that was not understood.
QByteArray jsonReport(const RunReport &report);

// The report for people, one line per board (and per check, per port), ending in a line end.
QString textReport(const RunReport &report);

// The exit status of a run whose report could not be written.
inline constexpr int kReportNotWritten = 6;

// Prints the report once: JSON or text on standard output; a command line that was not understood
// also goes to standard error in words. Returns the exit status.
int printReport(const RunReport &report, bool json);

} // namespace quenta::flash
