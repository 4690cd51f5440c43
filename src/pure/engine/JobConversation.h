#pragma once

#include "pure/AnswerReader.h"
#include "pure/ResumePlan.h"
#include "pure/engine/PassState.h"
#include "pure/engine/Task.h"
#include "pure/engine/Wording.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// One board's job (flash, verify, install, version, set-address) as a conversation: events in,
// steps out, no clock and no port of its own.
//
// The protocol carries no sequence numbers, so an answer is judged by its place alone, never by
// how soon it came:
//   - an answer belongs to a line only if it began after the line was written; one that began
//     before answers an earlier command: an extra answer;
//   - every line gets exactly one answer, in order: a line is answered by the first answer after
//     it went out, and the next line goes out only then;
//   - after the end record's answer of a verify pass the job listens as long as the board may
//     answer (the answer timeout): anything but line ends in that time is an answer too many;
//   - after a line that went out again, the answers its earlier sends still owe are waited for
//     before the next line goes out.
// A job ends "ok" only after the wanted number of verify passes in a row that ran from the first
// line to the end record on the board as it is now, undisturbed: every line answered once, in
// order, no re-send, no extra, late or unreadable answer, no lost port, and the quiet after. Any
// disturbance voids the pass and a fresh one follows. Every answer of a read is taken, in order,
// and an "ERROR" is never dropped: it refuses the board, and the quiet after it tells whether it
// answered the line in flight or, an answer too many having come, possibly an earlier one.
// Download lines may go out twice (writing a line again is harmless); the verify judges. A board
// whose version text changed across a drop is another board, and is judged from scratch.
class JobConversation {
public:
    explicit JobConversation(BoardTask task);

    Step start(Micros now);
    Step received(std::string_view bytes, Micros now);
    // The line was quiet for a while: an answer that came without its line end is taken.
    Step quiet(Micros now);
    Step timerFired(Micros now);
    Step portLost(std::string_view why, Micros now);
    Step portBack(Micros now);
    Step interrupt();

    bool done() const { return phase_ == Phase::Done; }
    // Whether quiet() may take an answer that waits for no line end.
    bool answerPending() const;
    const std::string &version() const { return version_; }
    Pass pass() const { return pass_.pass; }
    bool passStarted() const { return passStarted_; }
    std::size_t linesDone() const { return pass_.cursor; }
    std::size_t lines() const { return records().size(); }
    std::size_t lineOut() const { return passStarted_ ? pass_.line() : 0; }
    int commands() const { return commands_; }
    int retries() const { return retries_; }
    int resumed() const { return resumed_; }
    int verifyPasses() const { return verifyPasses_; }

private:
    enum class Phase {
        Probing,         // the info command every kProbeIntervalMs until "VER=" comes
        Settling,        // waiting for quiet, then `next_`
        CheckingAddress, // set-address on a bus: does the new address answer already?
        Single,          // one command (install, set-address) and its answer
        Lines,           // a line of a pass is out
        Draining,        // a re-sent line was answered: waiting for its other answers
        Closing,         // a verify pass ended well: the quiet in which anything more is heard
        Refusing,        // the board refused a line: the quiet that tells which line it was
        Awaiting,        // the port is gone
        Done,
    };
    // What follows the probe or the quiet.
    enum class Next { Begin, Resume, Verify };
    struct Settle {
        bool errorsRefuse = false; // an ERROR refuses: it answered a line
        int quietMs = kSettleMs;
        int answers = 0;
    };
    // The board's refusal of a line, said once the quiet after it is over.
    struct Refusal {
        std::string answer;
        wording::PassLine at;
        bool moreCame = false; // an answer too many came: the ERROR may answer an earlier line
    };

    const std::vector<std::string> &records() const;
    bool modbus() const { return task_.address.has_value(); }
    std::string frame(std::string_view command) const;
    std::string lineCommand() const;
    wording::PassLine inFlight() const { return {pass_.line(), pass_.pass}; }
    bool lastLine() const { return pass_.line() == lines(); }

    Step take(const Reading &reading, std::string_view bytes);
    Step onAnswer(const Answer &answer);
    Step onProbeAnswer(const Answer &answer);
    Step onSettleAnswer(const Answer &answer);
    Step onCheckAnswer(const Answer &answer);
    Step onSingleAnswer(const Answer &answer);
    Step onLineAnswer(const Answer &answer);
    Step onWrongAnswer(Keyword keyword, const std::string &text);
    Step onDrainAnswer(const Answer &answer);
    Step onExtraAnswer(std::string reason);

    Step probe();
    Step settle(Next next, bool errorsRefuse, int quietMs);
    // The quiet after the first answer to one of several probes: until the last probe's answer
    // is due.
    int settleAfterProbesMs() const;
    // The quiet wanted for the answers to `times` commands that may still come.
    int lateMs(int times = 1) const;
    Step afterSettle();
    Step begin();
    Step probeNewAddress();
    Step single(std::string command);
    Step singleTimeout();
    Step startPass(Pass pass, ResumePoint from);
    Step sendLine(bool again);
    Step advance();
    Step lineTimeout();
    Step endOfPass();
    Step passProven();
    // The verify pass under way can no longer prove the board: says why, and ends the job when no
    // pass is left to run.
    Step disturb(std::string reason);
    Step disturbClosing(std::string reason);
    Step voidPass();
    // The board answered `at` with ERROR: nothing more is sent, and the quiet after it tells
    // whether an answer too many came.
    Step refuseLine(const std::string &answer, wording::PassLine at);
    Step finishRefusal(const std::string &answer, wording::PassLine at, bool orEarlier);
    Step refusalCutShort();
    Step finish(JobResult result, std::string message, Keyword answer = Keyword::None);

    BoardTask task_;
    AnswerReader reader_;
    Micros now_ = 0;
    Phase phase_ = Phase::Probing;
    Next next_ = Next::Begin;
    Settle settle_;
    bool closesWithRead_ = false; // the verify pass is proven once the read under way is taken
    Refusal refusal_;
    int probesLeft_ = 0;
    int probesSent_ = 0;
    Micros lastProbeAt_ = 0;
    std::string version_;
    std::string note_;      // said at the end, whatever the outcome
    std::string lostWhere_; // where the port went away, and why
    std::string single_;    // the one command out, framed
    int singleTries_ = 0;
    bool installSent_ = false;
    std::optional<std::string> singleHeard_; // a version text heard in place of the answer
    PassState pass_;
    bool passStarted_ = false;
    LineInFlight line_;
    // The line written last before the line in flight went out, and the line in flight, on the
    // port as it is now: an answer that began before the line in flight answers the one before.
    wording::PassLine lineBefore_;
    wording::PassLine lineWritten_;
    int strays_ = 0;            // answers still due to a re-sent line that was answered
    std::size_t strayLine_ = 0; // that line's number
    bool disturbed_ = false;    // re-sends or extra answers in the download since the last quiet
    ResumePoint resume_;
    int commands_ = 0;
    int retries_ = 0;
    int resumed_ = 0;
    int verifyPasses_ = 0;
    int voidedPasses_ = 0;
    int provenPasses_ = 0; // undisturbed verify passes in a row
};

} // namespace quenta
