#pragma once

#include "flash/serve/JournalKeeper.h"
#include "flash/serve/Reply.h"

#include <QDateTime>
#include <QString>
#include <QUrlQuery>

namespace quenta::flash {

// The view's JSON API, the path after "/api/" with its query:
//   summary     span=1h|8h|24h|7d (default 8h), station=NAME, firmware_sha256=HEX, recipe=NAME
//   jobs        since=ISO-TIME, result=R, serial=N, firmware_sha256=HEX, station=NAME,
//               recipe=NAME, limit=N (1..100000, default 20): newest first, with log --json's
//               fields
//   jobs.csv    the same jobs as log --csv gives them
//   unit/N      every job that wrote serial number N, newest first
// A parameter that is unknown, given twice or wrong is 400 with the reason, as log's options are
// refused; a journal that cannot be read is 503, with the reason, until it can again.
Reply answerApi(JournalKeeper &keeper, const QString &path, const QUrlQuery &query,
                const QDateTime &now);

} // namespace quenta::flash
