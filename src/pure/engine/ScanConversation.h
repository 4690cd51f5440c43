#pragma once

#include "pure/AnswerReader.h"
#include "pure/engine/Task.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// A scan of a Modbus bus as a conversation: the info command to each address of the task in turn,
// each for its probe interval, taking the answer of any of them at any time, late or not. A sweep
// that finds nobody runs again until the wait is over; a port that goes away is waited for, and the
// sweep starts again when it is back. With firstOnly the first board that answers ends it.
class ScanConversation {
public:
    explicit ScanConversation(BoardTask task);

    Step start(Micros now);
    Step received(std::string_view bytes, Micros now);
    Step quiet(Micros now);
    Step timerFired(Micros now);
    Step portLost(std::string_view why, Micros now);
    Step portBack(Micros now);
    Step interrupt();

    bool done() const { return done_; }
    bool answerPending() const { return !done_ && !awaiting_ && reader_.pending(); }
    int resumed() const { return resumed_; }
    // The boards that answered, by address.
    const std::vector<FoundBoard> &found() const { return found_; }

private:
    Step take(const Reading &reading);
    Step sweep();
    Step end();
    Step finish(JobResult result, std::string message);

    BoardTask task_;
    AnswerReader reader_{true};
    Micros now_ = 0;
    Micros began_ = 0;     // when the sweeps began, or began again after a drop
    std::size_t next_ = 0; // the next address of the sweep
    bool awaiting_ = false;
    bool done_ = false;
    int resumed_ = 0;
    std::string lostWhy_;
    std::vector<FoundBoard> found_;
};

} // namespace quenta
