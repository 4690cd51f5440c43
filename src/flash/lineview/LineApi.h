#pragma once

#include "flash/lineview/JournalKeeper.h"
#include "flash/lineview/http/Reply.h"

#include <QDateTime>
#include <QString>
#include <QUrlQuery>

namespace quenta::flash {

// The view's JSON API, the path after "/api/" with its query:
//   summary     span=1h|8h|24h|7d (default 8h), station=NAME, firmware_sha256=HEX, recipe=NAME
//   jobs        since=ISO-TIME, result=R, serial=N, firmware_sha256=HEX, station=NAME,
//               recipe=NAME, limit=N (1..1000, default 20), after=CURSOR: a page of the jobs,
//               newest first, with log --json's fields, and a link to the next page when full
//   jobs.csv    the same jobs as log --csv gives them, limit=N (default 20, 0: all) of them, sent
//               as they are read
//   unit/N      every job that wrote serial number N, newest first
// A parameter that is unknown, given twice or wrong is 400 with the reason, as log's options are
// refused; a journal that cannot be read is 503, with the reason, until it can again. It runs on
// the journal's thread.
Reply answerApi(JournalKeeper &keeper, const QString &path, const QUrlQuery &query,
                const QDateTime &now);

} // namespace quenta::flash
