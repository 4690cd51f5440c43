#pragma once

#include "pure/engine/BoardEngine.h"
#include "simboard/IntelHex.h"
#include "simulation/Traffic.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A world for the board engine: the engine (as the flasher runs it, or inside the window's
// firmware job), the simulated board's own bootloader model, a virtual clock and a seeded schedule
// of faults on the line, the port and the board: answers late, slow, lost, garbled, duplicated
// (back to back, before the next answer, or later), merged into one read, split, with noise; stray
// keywords; ERROR anywhere; download lines that reach the board changed with a valid checksum;
// Modbus frames from other boards; drops that lose records; a board that resets at one line every
// time; another board coming back; boards that report a verify difference only at the end record,
// slowly; and good boards of uneven pace (slow first lines, a slow page every fourth line, jitter,
// an adapter that hands several answers over at once, answers before the whole line is in, Modbus
// frames without CR LF). The same seed gives the same job, event for event, and a record of what
// really happened on the line, from which the checks judge the outcome.
namespace simulation {

// Who runs the engine: the flasher (answer timeout, re-sends, resumes, one or two undisturbed
// verify passes), or the window (its firmware job, framing its commands itself, reading at its
// 30 ms poll, showing END at the end record's answer and a red ERROR for an ERROR after it).
enum class Policy { Flasher, Window };

// The faults of the world, a bit each.
enum Fault : std::uint32_t {
    kLose = 1u << 0,         // an answer lost on the line
    kLate = 1u << 1,         // an answer past the timeout
    kError = 1u << 2,        // "ERROR" in the place of an answer
    kStrayError = 1u << 3,   // "ERROR" that answers nothing
    kNoise = 1u << 4,        // noise in front of an answer, on its line
    kNoiseLine = 1u << 5,    // a line of noise
    kSplit = 1u << 6,        // an answer in two pieces
    kForeign = 1u << 7,      // a frame from another board
    kCorrupt = 1u << 8,      // a download line changed on its way, checksum and all
    kGarble = 1u << 9,       // an answer changed so that it holds no keyword
    kDuplicate = 1u << 10,   // an answer twice
    kStray = 1u << 11,       // "OK", "DOWNLOAD" or "VER=..." that answers nothing
    kDrop = 1u << 12,        // the port went away
    kSwap = 1u << 13,        // another board came back
    kLostRecords = 1u << 14, // a board that came back lost records it had acknowledged
    kAdapter = 1u << 15,     // an adapter hands bytes over at its ticks
    kSlowEnd = 1u << 16,     // the end record's verify answer is slow
};

// Faults that change nothing but how the answers are cut into reads.
inline constexpr std::uint32_t kHarmless = kNoise | kSplit | kForeign | kAdapter;

// What happened in the world besides the engine's outcome.
struct Facts {
    std::uint32_t faults = 0;          // the faults that happened
    bool boardCanHold = true;          // the file can be verified, on a board that holds it or can
    int retries = 0;                   // the flasher's re-sends per command
    int drops = 0;                     // times the port went away
    bool dropOutlastedWait = false;    // the port was not back within the wait
    std::size_t mostRecordsLost = 0;   // the most records a board lost at one drop
    bool lateAnswer = false;           // an answer came at or after its timeout
    int longestLineMisses = 0;         // answers to one line, sent again and again, that never came
    int longestProbeMisses = 0;        // the same for the probe
    int probesInWait = 1;              // probes the flasher sends within its wait
    int disturbancesInFirstVerify = 0; // strays, duplicates, noise lines, garbled answers
    int disturbancesElsewhere = 0;     // the same outside the first verify pass
    bool lossInVerify = false;         // an answer to a verify line was lost or garbled
    bool faultAfterSecondVerify = false; // a fault came after the second verify pass began
    bool paced = false;                  // a good board of uneven pace
    int verifyPasses = 1;                // undisturbed verify passes the job wants
    std::size_t lineWrites = 0;          // line commands written
    std::size_t reSends = 0;             // of which re-sends
    std::size_t verifyStarts = 0;        // verify passes begun
    std::vector<ErrorSeen> errors;       // ERRORs that reached the host before the end
    std::size_t readsAtEnd = 0;          // reads the host had taken when the job ended
    std::size_t writesAfterError = 0;    // commands written after the first binding ERROR's read
    bool strayOrCopyRead = false;        // a stray or a copy of an answer reached the host
    bool answerMissing = false;          // an answer to a line was lost, cut off or garbled
    PassReview lastPass;                 // the pass the job ended in
};

// What became of one job.
struct Outcome {
    Policy policy = Policy::Flasher;
    std::optional<quenta::JobOutcome> end; // none: the job never ended
    bool waiting = false;                  // the window waits for an answer that will never come
    bool redAfterEnd = false;              // the window's END turned red: an ERROR came after it
    bool overran = false;                  // the virtual clock passed the bound first
    long long boundMs = 0;                 // that bound
    std::string downloadInVerify;          // a download line a verify job sent, if any
    simboard::Memory image;                // the file's image, read by the board's own reader
    simboard::Memory held; // what the board that gave the last answer holds at the end
    std::size_t lines = 0; // records in the file
    bool verifyOnly = false;
    bool pair = false; // a schedule of two faults in a verify pass against a board without the file
    Facts facts;
};

// Runs the job of `seed`; with `trace` every event is printed as it happens.
Outcome runJob(std::uint64_t seed, bool trace);

} // namespace simulation
