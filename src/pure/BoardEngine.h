#pragma once

#include "pure/AnswerReader.h"
#include "pure/Answers.h"
#include "pure/JobResult.h"
#include "pure/ResumePlan.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quenta {

// What one board's job is to do; a scan looks for the boards on a Modbus bus.
enum class JobKind { Flash, Verify, Install, Version, SetAddress, Scan };

// The two passes over a firmware file.
enum class Pass { Download, Verify };

// The bootloader is probed with the info command this often until it answers.
inline constexpr int kProbeIntervalMs = 200;
// The least quiet wanted after the first answer to a probe when more probes are on their way, and
// after the last answer of a verify pass: late answers then show up before they can be taken for
// the answers to other lines. After the last answer of a verify pass the quiet is also at least
// twice the slowest answer the board gave in the job, and at most the answer timeout.
inline constexpr int kSettleMs = 100;
// A job goes on after the port came back at most this many times.
inline constexpr int kMaxResumes = 10;
// A verify pass disturbed by a re-send, a late, extra or unreadable answer is run again from its
// first line, up to this many passes in all.
inline constexpr int kMaxVerifyPasses = 3;
// Answers taken while waiting for quiet before the engine goes on regardless.
inline constexpr int kMaxSettleAnswers = 64;
// An answer that begins less than 1/kSoonerFactor of the time after its line went out that the
// board ever took for a line of that pass and length, and at least kTimingSlackUs sooner, answers
// no line of its own; judged once the board answered kTimedAnswers such lines. (A host's timing is
// only so exact: a board that answers within a millisecond or two cannot be told from its echo.)
inline constexpr int kSoonerFactor = 2;
inline constexpr std::int64_t kTimingSlackUs = 2000;
inline constexpr int kTimedAnswers = 3;

// How long to wait, how often to try again, and how much trouble a verify may meet.
struct Patience {
    int timeoutMs = 1000; // for each answer; 0: an answer is waited for as long as it takes
    int retries = 2;      // re-sends of a command whose answer did not come
    int waitMs = 10000;   // for the bootloader's first answer and for a lost port; 0: a lost port
                          // ends the job
    int verifyPasses = kMaxVerifyPasses; // verify passes in all before a disturbed one refuses
};

// The window's way: every answer waited for, nothing sent twice, no resume, and a disturbed
// verify refuses at once.
inline constexpr Patience kWindowPatience{0, 0, 0, 1};

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

// One board's job as a conversation: events in (bytes read, the timer, the port lost and back,
// each with the moment it happened), steps out. It has no clock and no port of its own.
//
// The rule it keeps: a job ends "ok" only after a verify pass that ran from the first line to the
// end record on the board as it is now, in which every line got exactly one answer, in order, with
// no re-send, no late, extra or unreadable answer and no lost port, followed by a quiet that covers
// the slowest answer the board gave. An answer counts for a line only if it began after the line
// was written, and not far sooner than the board ever answers such a line: anything else is an
// extra answer. Any disturbance voids the pass and a fresh one follows. Every answer of a read is
// taken, in order, and an "ERROR" is never dropped: in a verify pass it refuses the board. Download
// lines may go out twice (writing a line again is harmless); the verify is what judges. A board
// whose version text changed across a drop is another board, and is judged from scratch.
class BoardEngine {
public:
    explicit BoardEngine(BoardTask task);

    Step start(Micros now);
    Step received(std::string_view bytes, Micros now);
    Step timerFired(Micros now);
    Step portLost(std::string_view why, Micros now);
    Step portBack(Micros now);
    // Stops at once: nothing more is sent.
    Step interrupt();

    bool done() const { return phase_ == Phase::Done; }
    const std::string &version() const { return version_; } // the last info answer
    Pass pass() const { return pass_; }
    bool passStarted() const { return passStarted_; }
    std::size_t linesDone() const { return cursor_; } // lines of the pass answered so far
    std::size_t lines() const { return records().size(); }
    // The line in flight, counted from 1; 0 before the first.
    std::size_t lineOut() const { return passStarted_ ? lineNumber() : 0; }
    int commands() const { return commands_; } // commands sent, probes not counted
    int retries() const { return retries_; }   // re-sends after a missing or unfit answer
    int resumed() const { return resumed_; }   // times the job went on after the port came back
    int verifyPasses() const { return verifyPasses_; }
    // The boards a scan found, by address.
    const std::vector<FoundBoard> &found() const { return found_; }

private:
    enum class Phase {
        Probing,      // the info command every kProbeIntervalMs until "VER=" comes
        Scanning,     // the info command to each address of a scan in turn
        Settling,     // waiting for quiet, then `next_`
        CheckingAddr, // set-address: does the new address answer already?
        Single,       // one command (install, set-address) and its answer
        Lines,        // a line of a pass is out
        Draining,     // a re-sent line was answered: waiting for its other answers
        Closing,      // the verify pass ended well: waiting for quiet
        Awaiting,     // the port is gone
        Done,
    };
    // What follows the quiet.
    enum class Next { Begin, Resume, Verify };

    const std::vector<std::string> &records() const;
    bool modbus() const { return task_.address.has_value(); }
    std::string frame(std::string_view command) const;
    std::string lineCommand() const;
    std::size_t lineNumber() const;
    std::string where() const;

    Step onAnswer(const Answer &answer);
    Step onProbeAnswer(const Answer &answer);
    Step onSettleAnswer(const Answer &answer);
    Step onLineAnswer(const Answer &answer);
    Step onFittingAnswer(Keyword keyword, const std::string &text);
    Step onDrainAnswer(const std::string &text);
    Step onSingleAnswer(const Answer &answer);
    Step probeNewAddress();
    Step onCheckAnswer(const Answer &answer);
    Step onUnfitLine(std::string_view why);
    Step onExtraAnswer(std::string reason);

    // Why an answer to the line in flight answers some other command instead; empty when it may
    // be the line's own.
    std::string extraReason(const Answer &answer) const;
    // Notes how long an answer to the line in flight took to begin, and, when it is the line's
    // own, to come whole.
    void learn(const Answer &answer, bool own);

    Step probe();
    Step scanNext();
    Step onScanAnswer(const Answer &answer);
    Step endScan();
    Step settle(Next next, bool errorsRefuse, int quietMs);
    // The quiet wanted for answers to `times` commands that may still come.
    int lateMs(int times = 1) const;
    // The quiet that covers the slowest answer of the job.
    int closingQuietMs() const;
    Step afterSettle();
    Step begin();
    Step startPass(Pass pass, ResumePoint point);
    Step sendLine(bool again);
    Step advance();
    Step lineTimeout();
    Step endOfPass();
    // The verify pass under way can no longer prove the board: says why, and ends the job when no
    // pass is left to run.
    Step disturb(std::string reason);
    Step voidPass();
    Step single(std::string command);
    Step finish(JobResult result, std::string message, Keyword answer = Keyword::None);
    // A line of a pass, as the messages name it; line 0: none.
    struct PassLine {
        std::size_t line = 0;
        Pass pass = Pass::Download;
    };
    // Refuses the board for its answer to `at` (line 0: before the line in flight), or to a line
    // before it when `orEarlier`.
    Step refuseAnswer(const std::string &text, PassLine at, bool orEarlier = false);
    // The line in flight, in its pass.
    PassLine inFlight() const { return {lineNumber(), pass_}; }

    BoardTask task_;
    AnswerReader reader_;
    Micros now_ = 0;
    Phase phase_ = Phase::Probing;
    Next next_ = Next::Begin;
    int probesLeft_ = 0;
    int probesSent_ = 0;
    int settleAnswers_ = 0;
    int settleMs_ = kSettleMs;
    bool settleRefuses_ = false; // an ERROR while settling refuses: it answered a verify line
    std::string version_;
    std::string note_;      // said at the end, whatever the outcome
    std::string lostWhere_; // where the port went away, and why
    std::string single_;    // the one command out, framed
    std::string lastUnfit_; // the last answer that did not fit the line in flight
    int tries_ = 0;
    int sends_ = 0;             // times the line in flight went out
    int strays_ = 0;            // answers still due to a re-sent line that was answered
    std::size_t strayLine_ = 0; // that line's number
    // The line in flight went out last when the reader stood here, at this moment, this long.
    std::uint64_t sentPosition_ = 0;
    // The line written last before the line in flight went out (last), on the port as it is now:
    // an answer that began before that answers it, or one before it.
    PassLine lineBefore_;
    PassLine lineWritten_;
    Micros sentAt_ = 0;
    std::size_t sentBytes_ = 0;
    // What the board's answers took in this job: for each pass and command length how many were
    // timed and the quickest start among them, and the slowest answer of all.
    struct Timing {
        int answers = 0;
        Micros quickest = 0;
    };
    std::map<std::pair<Pass, std::size_t>, Timing> timings_;
    Micros slowest_ = 0;
    Pass pass_ = Pass::Download;
    bool passStarted_ = false;
    bool clean_ = false;      // the verify pass under way can still prove the board
    std::string disturbance_; // why it cannot, the first thing that went wrong in it
    bool disturbed_ = false;  // re-sends or extra answers since the last quiet
    bool installSent_ = false;
    std::optional<std::size_t> addressFirst_; // the address record that goes before cursor_
    std::size_t cursor_ = 0;                  // the record the pass is at
    ResumePoint resume_;
    int commands_ = 0;
    int retries_ = 0;
    int resumed_ = 0;
    int verifyPasses_ = 0;
    int voidedPasses_ = 0;
    std::size_t scanAt_ = 0; // the next address of the sweep
    Micros scanBegan_ = 0;
    std::vector<FoundBoard> found_;
};

} // namespace quenta
