#pragma once

#include "flash/frame/Report.h"
#include "io/journal/JournalPlace.h"
#include "io/journal/JournalResult.h"
#include "io/port/PortIdentity.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace quenta {
class Journal;
}

namespace quenta::flash {

// What every row of one run shares.
struct RunFacts {
    QString station;
    QString operatorName;
    QString tool; // "quenta-flash VERSION"
    QString command;
    QString firmware; // the file name as given; empty without a file
    QString firmwareSha256;
    std::optional<qint64> records; // records in the file, when it could be read
    QString series;                // where the serial numbers come from; empty when none are taken
    QString recipe;                // the recipe's name; empty without one
    QString recipeSha256;
};

// The journal as a run writes it: a row for each board, written "running" when the board's job
// starts and completed at its end, and the serial numbers its boards take, each into its row. The
// first write that fails is kept for the report, and nothing is written after it: a board whose row
// cannot be started is not flashed.
class RunJournal {
public:
    // Opens the journal, making its tables when missing; the error says which and why. A
    // connection to a server that is lost later is made again for up to `reconnectMs`.
    static JournalResult<std::unique_ptr<RunJournal>> open(const JournalPlace &place,
                                                           RunFacts facts, int reconnectMs);
    RunJournal(std::unique_ptr<Journal> journal, RunFacts facts);
    ~RunJournal();
    RunJournal(const RunJournal &) = delete;
    RunJournal &operator=(const RunJournal &) = delete;

    // Gives the board, and its row in the same transaction, the next number of the run's series (a
    // new series starts at `first`, and a `first` above it moves it up): none when that is above
    // `largest`; false when the journal could not be written.
    bool takeSerial(std::uint64_t first, std::uint64_t largest, BoardReport &board);

    // Writes the board's row as running and sets its id on the board; false when it could not.
    bool start(BoardReport &board, const PortIdentity &identity);

    // Writes the end of the board's row, if it has one; `identity` is the device as it is now.
    void complete(const BoardReport &board, int exit, const PortIdentity &identity);

    // The run's report or events could not be written, and the program ends with kNotRecorded:
    // every row it completed says so in its exit status.
    void notReported();

    // The journal's place, as shown to people.
    QString shown() const;

    // Why the journal could not be written; empty while it could.
    const QString &problem() const { return problem_; }

private:
    bool failed(const QString &why);

    std::unique_ptr<Journal> journal_;
    RunFacts facts_;
    QString problem_;
    std::vector<qint64> completed_; // the rows this run completed
};

} // namespace quenta::flash
