#pragma once

#include "flash/lineview/JournalKeeper.h"
#include "flash/lineview/http/Reply.h"

#include <QString>
#include <QUrlQuery>

#include <optional>

namespace quenta::flash {

// The most jobs of one page of /api/jobs.
inline constexpr int kMaxPage = 1000;

// A page of the jobs as JSON, newest first. A full page links to the next one, in a header
// `Link: </api/jobs?QUERY>; rel="next"` whose query is `query` with `after` set to the page's last
// job. The journal's failure as the reply when it cannot be read.
Reply jobsPage(JournalKeeper &keeper, const JobFilter &filter, const QUrlQuery &query);

// The jobs as CSV, the same bytes as log --csv: read and sent a few thousand rows at a time, each
// piece asked for once the one before has left, so that neither the answer nor the journal's
// other work waits for the whole. The journal's failure as the reply when it cannot be read at
// first; a failure later ends the answer short.
Reply jobsCsvStream(JournalKeeper &keeper, const JobFilter &filter);

// A job's place as `after` gives it ("2024-05-01T12:34:56.789Z,1234"); none when the text is not
// one.
std::optional<JobCursor> readCursor(const QString &text);

} // namespace quenta::flash
