#pragma once

#include "pure/ResumePlan.h"
#include "pure/engine/Task.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quenta {

// Where a pass over the file stands and what it can still prove: one value, made afresh at the
// start of every pass.
struct PassState {
    PassState() = default;
    PassState(Pass pass, ResumePoint from)
        : pass(pass), cursor(from.from), addressFirst(from.addressRecord) {}

    // The line in flight, counted from 1.
    std::size_t line() const { return (addressFirst ? *addressFirst : cursor) + 1; }
    // On to the next line: the address record that led a resume is done, or the record is.
    void advance() {
        if (addressFirst) {
            addressFirst.reset();
        } else {
            ++cursor;
        }
    }

    Pass pass = Pass::Download;
    std::size_t cursor = 0;                  // the record the pass is at
    std::optional<std::size_t> addressFirst; // the address record that goes before `cursor`
    // A verify pass: nothing has yet disturbed it, so it can still prove the board; else the
    // first thing that went wrong in it.
    bool clean = true;
    std::string disturbance;
};

// The line in flight and what became of it so far.
struct LineInFlight {
    int sends = 0; // times it went out
    int tries = 0; // times it went out again after its answer did not come or did not fit
    // Where the reader stood when it went out last: an answer that begins before answers an
    // earlier command.
    std::uint64_t sentPosition = 0;
    // An answer that came in time but did not fit: the line was answered, wrongly.
    std::optional<std::string> wrongAnswer;
};

} // namespace quenta
