#pragma once

#include "flash/frame/Report.h"
#include "flash/jobs/EventLines.h"
#include "flash/journal/RunJournal.h"
#include "io/port/PortIdentity.h"

#include <cstdint>
#include <vector>

namespace quenta::flash {

// The one place where each board of a run is recorded: its row in the journal (started
// "running", given its serial number when it takes one, and completed at its end), its events, and
// its report. Every board gets all three, whether its job ran or its outcome was decided without
// one.
class BoardResults {
public:
    // `journal` and `events` may be none: nothing is recorded there.
    BoardResults(RunJournal *journal, EventLines *events);

    // Records the start of a board on `device`: false when the journal could not be written.
    bool start(BoardReport &board, const PortIdentity &device);
    // Gives a started board the next serial number of the run's series (a new one begins at
    // `first`): false when the journal could not be written. A series whose next number is above
    // `largest` leaves the board without one.
    bool number(BoardReport &board, std::uint64_t first, std::uint64_t largest);
    // Records the end of a board: its row gets its exit status in a run stopped by `signal`.
    void end(const BoardReport &board, int signal, const PortIdentity &device);

    const std::vector<BoardReport> &reports() const { return reports_; }

private:
    RunJournal *journal_;
    EventLines *events_;
    std::vector<BoardReport> reports_;
};

} // namespace quenta::flash
