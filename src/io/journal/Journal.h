#pragma once

#include "io/journal/JournalPlace.h"
#include "io/journal/JournalResult.h"
#include "io/journal/JournalRows.h"
#include "io/journal/JournalSummary.h"
#include "pure/SerialNumber.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace quenta {

class JournalConnection;

// The record of every board job, and the serial numbers handed out: an SQLite file that the
// programs of one station share, or a PostgreSQL database that the stations of a line share. Each
// Journal has its own connection; use it from the thread that opened it. Every error is a text for
// people that says what failed, in which journal, and why.
class Journal {
public:
    // Connects and brings the journal to the latest schema, making the tables (and, for SQLite,
    // the file and its folder) when missing. A PostgreSQL connection that the server cuts later is
    // made again for up to `reconnectMs`.
    static JournalResult<std::unique_ptr<Journal>> open(const JournalPlace &place,
                                                        int reconnectMs = 10000);

    // Connects to read only: no file, folder or table is made and the schema is left as it is. A
    // journal that is not there, or whose schema is not this program's, is refused with the
    // reason and what brings it about. Nothing written through it is kept.
    static JournalResult<std::unique_ptr<Journal>> openReadOnly(const JournalPlace &place);
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    const JournalPlace &place() const { return place_; }

    // The schema version the journal held when it was opened; 0 when it was made by the opening.
    int versionFound() const { return versionFound_; }

    // Read only, of an SQLite file as it was when opened (see JournalConnection::isFrozen): open it
    // again to see what was written since.
    bool isFrozen() const;

    // Writes a job's row with the result "running": its id.
    JournalResult<qint64> start(const JobStart &job);

    // Writes the end of the job `id`; empty when written, else why not.
    QString complete(qint64 id, const JobEnd &end);

    // Hands out the next number of a series, in one transaction: a series not yet known starts at
    // `first`, and a `first` above the series' next number moves it up to `first` (never down). No
    // number is handed out twice, by any program on the journal. Numbers go up to `largest` (at
    // most kLargestSerialNumber); none when the next one is above it (the series is used up for
    // it). Given a job, the number is written into the job's row in the same transaction, so that
    // every number handed out is on a row; a job that holds a number already keeps it and takes
    // none.
    JournalResult<std::optional<std::uint64_t>>
    takeSerial(const QString &series, std::uint64_t first = 1, std::optional<qint64> job = {},
               std::uint64_t largest = kLargestSerialNumber);

    // The number the series would hand out next; none when the journal holds no such series yet.
    JournalResult<std::optional<std::uint64_t>> nextSerial(const QString &series);

    // Sets the exit status of the job `id` to `exit` where it holds a lower one: the program ended
    // worse than the job did. Empty when written, else why not.
    QString raiseExit(qint64 id, int exit);

    // The jobs that match, newest first.
    JournalResult<std::vector<JobRow>> list(const JobFilter &filter);

    // The jobs of a span counted for the line's view (in JournalSummary.cpp).
    JournalResult<LineSummary> summary(const SpanQuery &query);

    // The jobs after the job `afterId` by id, at most `limit` of them (in JournalSummary.cpp).
    JournalResult<std::vector<CountedJob>> countedJobs(qint64 afterId, int limit);

private:
    Journal(JournalPlace place, std::unique_ptr<JournalConnection> connection, int versionFound);
    QString failed(const QString &what, const QString &why) const;

    JournalPlace place_;
    std::unique_ptr<JournalConnection> connection_;
    int versionFound_ = 0;
};

} // namespace quenta
