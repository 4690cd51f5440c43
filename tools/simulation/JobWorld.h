#pragma once

#include "pure/BoardEngine.h"
#include "simboard/IntelHex.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// A world for the board engine: the engine, the simulated board's own bootloader model, a
// virtual clock and a seeded schedule of faults on the line, the port and the board (answers
// early, late, just past the timeout, lost, merged into one read, split, with noise; ERROR
// anywhere; download lines that reach the board changed with a valid checksum; Modbus frames
// from other boards; drops that lose records; a board that resets at one line every time;
// another board coming back; boards that report a verify difference only at the end record).
// The same seed gives the same job, event for event.
namespace simulation {

// What became of one job.
struct Outcome {
    std::optional<quenta::JobOutcome> end; // none: the job never ended
    bool overran = false;              // the virtual clock passed the bound first
    long long boundMs = 0;             // that bound
    std::string downloadInVerify;      // a download line a verify job sent, if any
    simboard::Memory image;            // the file's image, read by the board's own reader
    simboard::Memory held;             // what the board that gave the last answer holds at the end
    std::size_t lines = 0;             // records in the file
    bool verifyOnly = false;
};

// Runs the job of `seed`; with `trace` every event is printed as it happens.
Outcome runJob(std::uint64_t seed, bool trace);

} // namespace simulation
