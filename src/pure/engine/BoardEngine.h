#pragma once

#include "pure/engine/JobConversation.h"
#include "pure/engine/ScanConversation.h"
#include "pure/engine/Task.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// One board's job, or a scan of a bus, as a conversation: events in (bytes read, a quiet line, the
// timer, the port lost and back, each with the moment it happened), steps out. It has no clock and
// no port of its own; both front ends, the window and the flasher, run their jobs on it. The rules
// by which it judges a board are JobConversation's.
class BoardEngine {
public:
    explicit BoardEngine(BoardTask task);

    Step start(Micros now);
    Step received(std::string_view bytes, Micros now);
    // The line brought nothing for a while after something that may be an answer without its line
    // end (see answerPending()).
    Step quiet(Micros now);
    Step timerFired(Micros now);
    Step portLost(std::string_view why, Micros now);
    Step portBack(Micros now);
    // Stops at once: nothing more is sent.
    Step interrupt();

    bool done() const;
    // Whether an answer may be waiting for nothing but a quiet line to be taken: call quiet() once
    // the line stayed quiet (kLooseAnswerQuietMs, or the next poll that reads nothing).
    bool answerPending() const;
    const std::string &version() const;
    Pass pass() const;
    bool passStarted() const;
    std::size_t linesDone() const; // lines of the pass answered so far
    std::size_t lines() const;
    // The line in flight, counted from 1; 0 before the first.
    std::size_t lineOut() const;
    int commands() const; // commands sent, probes not counted
    int retries() const;  // re-sends after a missing or unfit answer
    int resumed() const;  // times the job went on after the port came back
    int verifyPasses() const;
    // The boards a scan found, by address.
    const std::vector<FoundBoard> &found() const;

private:
    std::optional<JobConversation> job_;
    std::optional<ScanConversation> scan_;
};

} // namespace quenta
