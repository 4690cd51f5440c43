#pragma once

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace quenta {

// Which jobs a summary counts: those started from `since` up to `now`, of one station, one
// firmware and one recipe when given. A job is one board's job; "running" jobs are not counted as
// done.
struct SpanQuery {
    QDateTime since;
    QDateTime now; // not valid: the current time
    QString station;
    QString firmwareSha256; // of either case
    QString recipe;         // the recipe's name
};

// Jobs done in one hour of the span, from "2024-05-01T08" on.
struct HourCount {
    QString hour; // the journal's time text cut after the hour: "2024-05-01T08"
    qint64 ok = 0;
    qint64 failed = 0;
};

// Failed jobs that ended with the same result and message, of the same recipe (or of none).
struct FailureCount {
    QString result;
    QString message;
    QString recipe; // empty: jobs that followed none
    qint64 jobs = 0;
};

// A station with a job in the last 7 days (whatever the span): its last job, and its jobs of the
// span.
struct StationCount {
    QString station;
    QString firmware;       // of its last job
    QString firmwareSha256; // of its last job
    QString recipe;         // of its last job; empty when it followed none
    QString recipeSha256;   // of its last job
    QString lastStarted;    // its last job's start, as kept
    QString lastResult;     // its last job's result ("running" while it is open)
    QString lastEnded;      // when its last finished job ended, as kept
    qint64 jobs = 0;        // done in the span
    qint64 ok = 0;          // ok in the span
    qint64 running = 0;     // rows open, started within the last hour
    int failuresInARow = 0; // failed jobs since its last ok job, at most 3
};

// The line at a glance over a span.
struct LineSummary {
    QString since;       // as kept
    QString now;         // as kept
    qint64 lastHour = 0; // jobs done within the last hour
    qint64 jobs = 0;     // jobs done in the span
    qint64 ok = 0;
    // Units: a serial number with its jobs, or a job without one. First pass: the unit's first job
    // of the span was ok; final: its last was.
    qint64 units = 0;
    qint64 firstPassOk = 0;
    qint64 finalOk = 0;
    std::optional<double> medianSeconds;
    std::vector<HourCount> hours;       // every hour of the span, oldest first, empty ones too
    std::vector<FailureCount> failures; // the ten most frequent, most frequent first
    std::vector<StationCount> stations; // by name
};

// A job as the view's counters read it, in the order of its id: a missing station or recipe is an
// empty one.
struct CountedJob {
    qint64 id = 0;
    QString started; // as kept
    QString station;
    QString recipe;
    QString result;
    double seconds = 0.0; // 0 while it runs
};

} // namespace quenta
