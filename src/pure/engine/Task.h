#pragma once

#include "pure/Answers.h"
#include "pure/JobResult.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// A moment on the front end's steady clock, in microseconds. The engine never reads a clock: every
// event tells it when it happened.
using Micros = std::int64_t;

// What one board's job is to do; a scan looks for the boards on a Modbus bus.
enum class JobKind { Flash, Verify, Install, Version, SetAddress, Scan };

// The two passes over a firmware file.
enum class Pass { Download, Verify };

// The bootloader is probed with the info command this often until it answers.
inline constexpr int kProbeIntervalMs = 200;
// The least quiet wanted after the first answer to a probe when more probes are on their way, and
// before a verify pass that follows a disturbance, when no answer timeout says more.
inline constexpr int kSettleMs = 100;
// A job goes on after the port came back at most this many times.
inline constexpr int kMaxResumes = 10;
// Verify passes disturbed by a re-send, an extra, late or unreadable answer or a lost port before
// the board is refused: a line that breaks answers that often cannot prove anything.
inline constexpr int kMaxDisturbedPasses = 3;
// Answers taken while waiting for quiet before the engine goes on regardless.
inline constexpr int kMaxSettleAnswers = 64;

// How long to wait, how often to try again, and what proves a board.
struct Patience {
    // For each answer; also the quiet kept after the end record's answer of a verify pass and
    // after an ERROR, in which anything more is heard. 0: every answer is waited for as long as
    // it takes, and the job ends with the answer that ends it.
    int timeoutMs = 1000;
    int retries = 2;      // re-sends of a command whose answer did not come
    int waitMs = 10000;   // for the bootloader's first answer and for a lost port; 0: a lost port
                          // ends the job
    int verifyPasses = 1; // undisturbed verify passes in a row that a job ends ok after
    int disturbedPasses = kMaxDisturbedPasses;
};

// The window's way: every answer waited for, nothing sent twice, no resume, one verify pass, and a
// disturbed verify refuses at once.
inline constexpr Patience kWindowPatience{0, 0, 0, 1, 1};

struct BoardTask {
    JobKind kind = JobKind::Version;
    const std::vector<std::string> *records = nullptr; // flash and verify: the file's records
    std::optional<std::uint8_t> address;               // the board's Modbus address
    std::uint8_t newAddress = 0;                       // set-address
    Patience patience;
    int baud = 115200; // for messages only
    // Whether the bootloader's answer to the info command is the one this job is for; a board
    // whose answer it refuses ends "wrong-board" before a line is written. None: any board.
    std::function<bool(std::string_view)> acceptsVersion;
    std::string expectedVersion; // what acceptsVersion looks for, as the message names it
    // Whether the job begins by probing the bootloader; without, it begins with its first line.
    bool probeFirst = true;
    // Whether the front end puts the Modbus framing around the commands itself; the answers are
    // read as frames from `address` either way.
    bool frontEndFrames = false;
    // A scan asks these addresses in turn, each for probeIntervalMs, and takes the answer of any of
    // them at any time; a sweep that finds nobody is run again until waitMs has passed. With
    // firstOnly the first board that answers ends it.
    std::vector<std::uint8_t> scanAddresses;
    bool firstOnly = false;
    int probeIntervalMs = kProbeIntervalMs;
};

// A board that answered a scan.
struct FoundBoard {
    std::uint8_t address = 0;
    std::string version; // its answer to the info command, without the blanks around it
};

struct JobOutcome {
    JobResult result = JobResult::Ok;
    std::string message;
    Keyword answer = Keyword::None; // the board's answer that ended the job, if one did
};

// What the engine asks of the port and the clock after an event, in this order: write the bytes,
// set the timer, then wait for the port or end.
struct Step {
    std::vector<std::string> send; // bytes for the port, in order
    std::optional<int> timerMs;    // (re)start the one timer with this interval; 0 stops it
    bool awaitPort = false;        // the port is gone: reopen it until portBack() or the timer
    std::optional<JobOutcome> end; // the job is over
};

// Adds what a later step asks for to what an earlier one asked for.
void merge(Step &into, Step &&from);

// A step that only sets the timer.
Step timerStep(int ms);

} // namespace quenta
