#pragma once

#include "io/journal/Journal.h"

#include <QByteArray>
#include <QDateTime>

#include <map>
#include <tuple>
#include <vector>

namespace quenta::flash {

// Boards, their results and seconds, counted by station and recipe over the whole journal.
struct BoardCounts {
    using Labels = std::pair<QString, QString>;                     // station, recipe
    std::map<std::tuple<QString, QString, QString>, qint64> boards; // ... and result: ended jobs
    std::map<Labels, double> seconds;                               // of the ended jobs
    std::map<Labels, qint64> running;       // jobs open now, started within the hour
    std::map<QString, QString> lastStarted; // by station

    // Counts a job; one that runs only when it started after `hourAgo`.
    void add(const CountedJob &job, const QString &hourAgo);
};

// The counts behind the view's metrics, kept between scrapes so that a scrape reads only the jobs
// that are new or may still change: a job counted for good (settled) is one that ended more than
// kSettleMinutes ago, or was left open more than an hour ago, and every job before it by id is
// settled too; the newest kUnsettledTail jobs read are never settled, for a row of a lower id may
// still be on its way into the journal. A scrape reads the jobs after the settled ones
// kStepJobs at a time, so that the journal's other work is done between its steps. Used on the
// journal's thread only.
class BoardCounter {
public:
    static constexpr int kStepJobs = 20000;
    static constexpr int kSettleMinutes = 5;
    static constexpr int kUnsettledTail = 8;

    // A scrape under way: where it has read to, and the jobs it read that are not settled.
    struct Scan {
        qint64 readTo = 0;
        std::vector<CountedJob> unsettled;
        bool done = false;
    };

    // Reads the scan's next step: empty when read, else the journal's failure.
    QString step(Journal &journal, Scan &scan, const QDateTime &now);

    // The counts of the settled jobs with the scan's others, once it is done.
    BoardCounts counts(const Scan &scan, const QDateTime &now) const;

private:
    BoardCounts settled_;
    qint64 settledTo_ = 0; // every job up to this id is in settled_
};

} // namespace quenta::flash
