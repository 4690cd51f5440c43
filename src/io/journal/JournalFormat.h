#pragma once

#include "io/journal/JournalRows.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace quenta {

// The jobs as a table for a terminal, no line longer than 100 characters: id, started (UTC, to the
// second), station, command, port (with ":address" on a bus), firmware (its file name), serial,
// result and seconds. A text too long for its column is cut and marked with "…": names keep their
// start, the port its start and end, the file name and the serial number their end; a result is
// never cut. A control character (a line end in a name) is shown by its symbol, such as "␊". A
// header line, then a line per job, each ending in "\n".
QString jobTable(const std::vector<JobRow> &rows);

// The jobs as CSV (RFC 4180) in UTF-8: a header row of the column names, then a row per job, every
// column; a field with a comma, a quote, a carriage return or a line feed is quoted, its quotes
// doubled; lines end in CRLF. No value is written for an empty column; seconds to the millisecond.
// A text that begins with "=", "+", "-", "@", a tab or a carriage return, which a spreadsheet would
// run as a formula, is led by an apostrophe.
QByteArray jobsCsv(const std::vector<JobRow> &rows);

// The jobs as a JSON array of objects, one per job, with every column by its name; an empty column
// is null.
QByteArray jobsJson(const std::vector<JobRow> &rows);

} // namespace quenta
