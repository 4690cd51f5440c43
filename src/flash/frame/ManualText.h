#pragma once

// The manual page's prose, in roff: what the option and command tables do not say. The page puts
// the tables' own sections between these.
namespace quenta::flash::manual {

extern const char *const kDescription; // DESCRIPTION
extern const char *const kReport;      // the report, the JSON lines, the journal and recipes
extern const char *const kLineView;    // the line view and its HTTP API
extern const char *const kExamples;    // EXAMPLES and what follows them

} // namespace quenta::flash::manual
