#include "flash/lineview/BoardCounter.h"

#include "io/journal/JournalTime.h"

namespace quenta::flash {
namespace {

const QString kRunning = QStringLiteral("running");

QString hourBefore(const QDateTime &now) {
    return journalTime(now.addSecs(-3600));
}

} // namespace

void BoardCounts::add(const CountedJob &job, const QString &hourAgo) {
    const Labels labels{job.station, job.recipe};
    if (job.result == kRunning) {
        running[labels] += job.started >= hourAgo ? 1 : 0;
    } else {
        boards[{job.station, job.recipe, job.result}] += 1;
        seconds[labels] += job.seconds;
    }
    QString &last = lastStarted[job.station];
    last = std::max(last, job.started);
}

QString BoardCounter::step(Journal &journal, Scan &scan, const QDateTime &now) {
    if (scan.readTo < settledTo_) {
        // Another scrape settled jobs this one had read: it goes on after them.
        scan.readTo = settledTo_;
        scan.unsettled.clear();
    }
    const auto jobs = journal.countedJobs(scan.readTo, kStepJobs);
    if (!jobs) {
        return jobs.error;
    }
    scan.done = static_cast<int>(jobs->size()) < kStepJobs;
    const QString hourAgo = hourBefore(now);
    const QString settleBefore = journalTime(now.addSecs(-60 * kSettleMinutes));
    for (std::size_t i = 0; i < jobs->size(); ++i) {
        const CountedJob &job = (*jobs)[i];
        scan.readTo = job.id;
        const bool inTail = scan.done && i + kUnsettledTail >= jobs->size();
        const bool settled =
            job.result == kRunning ? job.started < hourAgo : job.started < settleBefore;
        if (scan.unsettled.empty() && settled && !inTail && job.id > settledTo_) {
            settled_.add(job, hourAgo);
            settledTo_ = job.id;
        } else {
            scan.unsettled.push_back(job);
        }
    }
    return {};
}

BoardCounts BoardCounter::counts(const Scan &scan, const QDateTime &now) const {
    BoardCounts counts = settled_;
    const QString hourAgo = hourBefore(now);
    for (const CountedJob &job : scan.unsettled) {
        counts.add(job, hourAgo);
    }
    return counts;
}

} // namespace quenta::flash
