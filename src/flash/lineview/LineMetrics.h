#pragma once

#include "flash/lineview/BoardCounter.h"
#include "flash/lineview/JournalKeeper.h"
#include "flash/lineview/http/Reply.h"

#include <QDateTime>
#include <QUrlQuery>

#include <memory>

namespace quenta::flash {

// The journal's figures in Prometheus' text format (version 0.0.4), for a line's monitoring:
//   quenta_journal_up                  1 while the journal can be read, else 0 (and nothing more)
//   quenta_boards_total                boards whose job ended, by station, recipe and result
//   quenta_board_seconds_total         seconds those jobs took, by station and recipe
//   quenta_boards_running              jobs open now (started within the hour), by station and
//                                      recipe
//   quenta_last_board_started_seconds  when each station's last job started (Unix time)
// A missing station or recipe is the label value "". The figures count the whole journal, so that
// the counters only grow; `counter` keeps what earlier scrapes read. A journal read for the first
// time is read in steps, the answer's body following once the last is done. It runs on the
// journal's thread.
Reply answerMetrics(const std::shared_ptr<BoardCounter> &counter, JournalKeeper &keeper,
                    const QUrlQuery &query);

} // namespace quenta::flash
