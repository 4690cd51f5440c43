#pragma once

#include "io/port/PortListing.h"
#include "pure/JobResult.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace quenta::flash {

struct Recipe;

// What became of one board.
struct BoardReport {
    QString port;               // as given
    std::optional<int> address; // Modbus only
    QString version;            // the bootloader's answer to the info command, line end removed
    JobResult result = JobResult::Ok;
    int lines = 0;        // records in the file
    int commands = 0;     // commands sent once the bootloader had answered, re-sends included
    int retries = 0;      // re-sends after a missing answer
    int resumed = 0;      // times the job went on after the port came back
    int verifyPasses = 0; // verify passes begun, disturbed ones included
    double seconds = 0.0;
    QString message;
    std::optional<qint64> journal;       // the board's row in the journal
    std::optional<std::uint64_t> serial; // the serial number written into it
    QString firmwareSha256;              // flash and verify: of the file's bytes
};

// The exit status of the run when the journal or the report could not be written.
inline constexpr int kNotRecorded = 6;

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
    std::vector<CheckEntry> checks;       // check only
    std::vector<ListedPort> ports;        // ports only
    QString usageError;                   // set when the command line was not understood
    QStringList problems;                 // the journal could not be opened or written
    QString journal;                      // where the jobs were recorded, as shown; empty: nowhere
    std::shared_ptr<const Recipe> recipe; // the recipe the run followed; none without one
    int recipeExit = 0;                   // check: the worst finding of the recipe's own check
    int signal = 0;                       // the signal that stopped the run; 0 if none

    int exit() const;
};

// A board's own exit status in a run stopped by `signal` (0 for none): an interrupted board's is
// 128 + the signal, or kNotRecorded when no signal came (the journal stopped it).
int boardExit(const BoardReport &board, int signal);

// A board as JSON: "port", "address" (null without Modbus), "version", "result", "lines",
// "commands", "retries", "resumed", "verify_passes", "seconds", "message", "journal" (its row, null
// without one), "serial" (null when none) and "firmware_sha256" (null without a file).
QJsonObject boardJson(const BoardReport &board);

// The report as JSON: "command", "ok", "exit" and "boards"; "journal" (its URL) when the jobs were
// recorded, "recipe" ("file", "name", "sha256" and "pins", each pinned key with its value) when
// the run followed one, "checks" for check, "ports" for ports, and "message" for a command line
// that was not understood or a journal that failed.
QJsonObject reportJson(const RunReport &report);

// The report as one JSON object on one line.
QByteArray jsonReport(const RunReport &report);

// An event of --json-lines: {"event":"NAME", then the object's members}, on one line.
QByteArray eventLine(const char *name, const QJsonObject &object);

// The report for people, one line per board (and per check, per port), ending in a line end; the
// lines "recipe: NAME (FILE)" (check: with a line for each key it pins) and "journal: URL" before
// the boards when the run followed a recipe and recorded its jobs. It holds no usage error and no
// journal failure: those are for standard error.
QString textReport(const RunReport &report);

enum class ReportForm { Text, Json, JsonLines };

// Prints the report once on standard output: text, JSON, or as JSON lines the event "end" that
// carries it. A command line that was not understood and a journal that failed go to standard
// error in words (and into a JSON report's "message"). Returns the exit status; kNotRecorded when
// the report could not be written.
int printReport(const RunReport &report, ReportForm form);

} // namespace quenta::flash
