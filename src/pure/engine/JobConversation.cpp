#include "pure/engine/JobConversation.h"

#include "pure/CommandLines.h"

#include <algorithm>
#include <limits>

namespace quenta {
namespace {

using wording::PassLine;
using wording::shown;

const std::vector<std::string> kNoRecords;

// Whether a read holds more than line ends: those may close an answer already taken.
bool holdsMoreThanLineEnds(std::string_view bytes) {
    return bytes.find_first_not_of("\r\n") != std::string_view::npos;
}

int probesWithin(int ms) {
    return ms <= kProbeIntervalMs ? 1 : (ms + kProbeIntervalMs - 1) / kProbeIntervalMs;
}

int clampMs(long long ms) {
    return static_cast<int>(std::min<long long>(ms, std::numeric_limits<int>::max()));
}

} // namespace

JobConversation::JobConversation(BoardTask task)
    : task_(std::move(task)), reader_(task_.address.has_value()) {
    AddressSet accepted;
    if (modbus()) {
        accepted.set(*task_.address);
    }
    if (task_.kind == JobKind::SetAddress) {
        accepted.set(task_.newAddress);
    }
    reader_.accept(accepted);
}

const std::vector<std::string> &JobConversation::records() const {
    return task_.records ? *task_.records : kNoRecords;
}

std::string JobConversation::frame(std::string_view command) const {
    return task_.frontEndFrames ? std::string(command) : frameCommand(command, task_.address);
}

std::string JobConversation::lineCommand() const {
    const std::string &record = records()[pass_.line() - 1];
    return pass_.pass == Pass::Download ? downloadLine(record) : verifyLine(record);
}

bool JobConversation::answerPending() const {
    return phase_ != Phase::Done && phase_ != Phase::Awaiting && reader_.pending();
}

// ---- events ----

Step JobConversation::start(Micros now) {
    now_ = now;
    if (!task_.probeFirst) {
        return begin();
    }
    probesLeft_ = probesWithin(task_.patience.waitMs);
    return probe();
}

Step JobConversation::received(std::string_view bytes, Micros now) {
    now_ = now;
    if (phase_ == Phase::Done || phase_ == Phase::Awaiting) {
        return {};
    }
    return take(reader_.take(bytes), bytes);
}

Step JobConversation::quiet(Micros now) {
    now_ = now;
    if (phase_ == Phase::Done || phase_ == Phase::Awaiting) {
        return {};
    }
    return take(reader_.flush(), {});
}

Step JobConversation::take(const Reading &reading, std::string_view bytes) {
    // Anything at all after the last answer of a verify pass, or after an ERROR, even the start of
    // an answer or noise, is more than the board's answers to the lines; but for the rest of that
    // answer's line end, which a plain line may bring in the next read.
    const bool more = modbus() ? !bytes.empty() : holdsMoreThanLineEnds(bytes);
    if (phase_ == Phase::Refusing) {
        refusal_.moreCame = refusal_.moreCame || more || !reading.answers.empty();
        return {};
    }
    Step step;
    const bool closing = phase_ == Phase::Closing;
    if (reading.unreadable > 0 && (phase_ == Phase::Lines || phase_ == Phase::Draining)) {
        merge(step,
              disturb("an answer to line " + std::to_string(pass_.line()) + " could not be read"));
    }
    for (const Answer &answer : reading.answers) {
        if (phase_ == Phase::Done) {
            break;
        }
        if (phase_ == Phase::Refusing) {
            refusal_.moreCame = true;
            continue;
        }
        merge(step, onAnswer(answer));
    }
    if (closing && phase_ == Phase::Closing && more) {
        merge(step, disturbClosing("something came after the answer to the end record"));
    }
    if (phase_ == Phase::Closing && closesWithRead_) {
        closesWithRead_ = false;
        merge(step, passProven());
    }
    // A read that brought the board's refusal sends nothing more, whatever came before it.
    if (step.end || phase_ == Phase::Refusing) {
        step.send.clear();
    }
    return step;
}

Step JobConversation::timerFired(Micros now) {
    now_ = now;
    switch (phase_) {
    case Phase::Probing:
        return probesLeft_ > 0 ? probe()
                               : finish(JobResult::NoAnswer,
                                        wording::noBootloader(task_.patience.waitMs, task_.baud));
    case Phase::Settling:
        return afterSettle();
    case Phase::CheckingAddress:
        if (singleTries_ < task_.patience.retries) {
            ++singleTries_;
            return probeNewAddress();
        }
        return single(*setAddressLine(std::to_string(task_.newAddress)).line);
    case Phase::Single:
        return singleTimeout();
    case Phase::Lines:
        return lineTimeout();
    case Phase::Draining:
        strays_ = 0;
        return sendLine(false);
    case Phase::Closing:
        return passProven();
    case Phase::Refusing:
        return finishRefusal(refusal_.answer, refusal_.at, refusal_.moreCame);
    case Phase::Awaiting:
        return finish(JobResult::PortLost, "the port went away " + lostWhere_ +
                                               " and did not come back within " +
                                               wording::seconds(task_.patience.waitMs) + " s");
    case Phase::Done:
        break;
    }
    return {};
}

Step JobConversation::portLost(std::string_view why, Micros now) {
    now_ = now;
    if (phase_ == Phase::Done || phase_ == Phase::Awaiting) {
        return {};
    }
    if (phase_ == Phase::Refusing) {
        return refusalCutShort();
    }
    reader_.clear();
    lineWritten_ = {};
    const std::string where = wording::where(passStarted_, inFlight());
    lostWhere_ = why.empty() ? where : where + " (" + std::string(why) + ")";
    if (phase_ == Phase::Single && installSent_) {
        return finish(JobResult::Ok, "the firmware was started; the board left the port, as a "
                                     "board on USB does when its firmware starts");
    }
    if (phase_ == Phase::Single || phase_ == Phase::CheckingAddress || task_.patience.waitMs <= 0) {
        return finish(JobResult::PortLost, "the port went away " + lostWhere_);
    }
    if (resumed_ >= kMaxResumes) {
        return finish(JobResult::PortLost, "the port went away " + std::to_string(resumed_ + 1) +
                                               " times, the last " + lostWhere_ +
                                               ": the board or its cable keeps failing");
    }
    if (phase_ == Phase::Lines || phase_ == Phase::Draining) {
        next_ = pass_.pass == Pass::Download ? Next::Resume : Next::Verify;
        if (pass_.pass == Pass::Download) {
            resume_ = resumePoint(records(), pass_.cursor);
        }
    } else if (phase_ == Phase::Closing) {
        next_ = Next::Verify;
    }
    // The board as it comes back proves itself afresh.
    provenPasses_ = 0;
    phase_ = Phase::Awaiting;
    Step step = timerStep(task_.patience.waitMs);
    step.awaitPort = true;
    return step;
}

Step JobConversation::portBack(Micros now) {
    now_ = now;
    if (phase_ != Phase::Awaiting) {
        return {};
    }
    reader_.clear();
    ++resumed_;
    probesSent_ = 0;
    probesLeft_ = probesWithin(task_.patience.waitMs);
    return probe();
}

Step JobConversation::interrupt() {
    if (phase_ == Phase::Done) {
        return {};
    }
    if (phase_ == Phase::Refusing) {
        return refusalCutShort();
    }
    return finish(JobResult::Interrupted,
                  "interrupted " + wording::where(passStarted_, inFlight()));
}

Step JobConversation::onAnswer(const Answer &answer) {
    switch (phase_) {
    case Phase::Probing:
        return onProbeAnswer(answer);
    case Phase::Settling:
        return onSettleAnswer(answer);
    case Phase::CheckingAddress:
        return onCheckAnswer(answer);
    case Phase::Single:
        return onSingleAnswer(answer);
    case Phase::Lines:
        return onLineAnswer(answer);
    case Phase::Draining:
        return onDrainAnswer(answer);
    case Phase::Closing:
        // Every line had its answer: this one is too many, and an ERROR among them may answer
        // any line.
        if (findKeyword(answer.text) == Keyword::Error) {
            return finishRefusal(answer.text, inFlight(), true);
        }
        return disturbClosing("another answer came after the answer to the end record (\"" +
                              shown(answer.text) + "\")");
    case Phase::Refusing:
    case Phase::Awaiting:
    case Phase::Done:
        break;
    }
    return {};
}

// ---- finding the bootloader ----

Step JobConversation::probe() {
    phase_ = Phase::Probing;
    --probesLeft_;
    ++probesSent_;
    lastProbeAt_ = now_;
    Step step = timerStep(kProbeIntervalMs);
    step.send.push_back(frame(kInfoCommand));
    return step;
}

Step JobConversation::onProbeAnswer(const Answer &answer) {
    if (findKeyword(answer.text) != Keyword::Version ||
        (modbus() && answer.address != task_.address)) {
        return {};
    }
    const std::string version = shown(answer.text);
    if (passStarted_ && version != version_) {
        note_ = wording::boardChanged(version_, version);
        next_ = Next::Begin;
        passStarted_ = false;
        voidedPasses_ = 0;
        provenPasses_ = 0;
        retries_ = 0;
    }
    version_ = version;
    if (task_.acceptsVersion && !task_.acceptsVersion(version_)) {
        return finish(JobResult::WrongBoard, wording::wrongBoard(version_, task_.expectedVersion));
    }
    if (task_.kind == JobKind::Version) {
        return finish(JobResult::Ok, version_);
    }
    // More probes than one are out: their answers come yet, and must not meet a line.
    return probesSent_ > 1 ? settle(next_, passStarted_, settleAfterProbesMs()) : afterSettle();
}

int JobConversation::settleAfterProbesMs() const {
    if (task_.patience.timeoutMs <= 0) {
        return kSettleMs;
    }
    const Micros due = lastProbeAt_ + Micros{task_.patience.timeoutMs} * 1000 - now_;
    return std::max(kSettleMs, clampMs((due + 999) / 1000));
}

Step JobConversation::settle(Next next, bool errorsRefuse, int quietMs) {
    phase_ = Phase::Settling;
    next_ = next;
    settle_ = {errorsRefuse, quietMs, 0};
    return timerStep(quietMs);
}

int JobConversation::lateMs(int times) const {
    if (task_.patience.timeoutMs <= 0) {
        return kSettleMs;
    }
    return clampMs(2LL * task_.patience.timeoutMs * times);
}

Step JobConversation::onSettleAnswer(const Answer &answer) {
    if (settle_.errorsRefuse && findKeyword(answer.text) == Keyword::Error) {
        // It answers the line written last on the port as it is now, or an earlier one; after a
        // drop, none was.
        return finishRefusal(answer.text, lineWritten_, true);
    }
    if (++settle_.answers >= kMaxSettleAnswers) {
        return afterSettle();
    }
    return timerStep(settle_.quietMs);
}

Step JobConversation::afterSettle() {
    disturbed_ = false;
    switch (next_) {
    case Next::Begin:
        return begin();
    case Next::Resume:
        return startPass(Pass::Download, resume_);
    case Next::Verify:
        return startPass(Pass::Verify, {});
    }
    return {};
}

Step JobConversation::begin() {
    switch (task_.kind) {
    case JobKind::Flash:
    case JobKind::Verify:
        if (records().empty()) {
            return finish(JobResult::BadFile, "the file holds no records");
        }
        return startPass(task_.kind == JobKind::Flash ? Pass::Download : Pass::Verify, {});
    case JobKind::Install:
        return single(std::string(kInstallCommand));
    case JobKind::SetAddress:
        if (modbus() && task_.newAddress == *task_.address) {
            return finish(JobResult::Ok, "the board has the address " +
                                             std::to_string(task_.newAddress) + " already");
        }
        if (modbus()) {
            singleTries_ = 0;
            return probeNewAddress();
        }
        return single(*setAddressLine(std::to_string(task_.newAddress)).line);
    case JobKind::Version:
        return finish(JobResult::Ok, version_);
    case JobKind::Scan:
        break;
    }
    return {};
}

// ---- single commands ----

Step JobConversation::probeNewAddress() {
    phase_ = Phase::CheckingAddress;
    Step step = timerStep(task_.patience.timeoutMs);
    step.send.push_back(modbusFrame(task_.newAddress, kInfoCommand));
    return step;
}

Step JobConversation::onCheckAnswer(const Answer &answer) {
    if (findKeyword(answer.text) != Keyword::Version || answer.address != task_.newAddress) {
        return {};
    }
    return finish(JobResult::Refused, "the address " + std::to_string(task_.newAddress) +
                                          " answers already: another board on the bus has it; "
                                          "nothing was changed");
}

Step JobConversation::single(std::string command) {
    phase_ = Phase::Single;
    singleTries_ = 0;
    single_ = frame(command);
    installSent_ = task_.kind == JobKind::Install;
    ++commands_;
    Step step = timerStep(task_.patience.timeoutMs);
    step.send.push_back(single_);
    return step;
}

Step JobConversation::onSingleAnswer(const Answer &answer) {
    const Keyword keyword = findKeyword(answer.text);
    if (keyword == Keyword::Version) {
        singleHeard_ = shown(answer.text);
        return {};
    }
    if (keyword == Keyword::Format) {
        return {};
    }
    if (keyword != Keyword::Ok) {
        return finish(JobResult::Refused, "the board answered \"" + shown(answer.text) + "\"",
                      keyword);
    }
    if (task_.kind == JobKind::Install) {
        return finish(JobResult::Ok, "the firmware was started");
    }
    return finish(JobResult::Ok, "the board's address is now " + std::to_string(task_.newAddress));
}

Step JobConversation::singleTimeout() {
    if (singleTries_ < task_.patience.retries) {
        ++singleTries_;
        ++retries_;
        ++commands_;
        Step step = timerStep(task_.patience.timeoutMs);
        step.send.push_back(single_);
        return step;
    }
    const std::string tries = std::to_string(task_.patience.retries + 1);
    if (singleHeard_) {
        return finish(JobResult::Refused, "no answer after " + tries +
                                              " tries: the board answered only \"" + *singleHeard_ +
                                              "\"");
    }
    return finish(JobResult::NoAnswer, "no answer after " + tries + " tries");
}

Step JobConversation::finish(JobResult result, std::string message, Keyword answer) {
    phase_ = Phase::Done;
    if (!note_.empty()) {
        message += " (" + note_ + ")";
    }
    Step step = timerStep(0);
    step.end = JobOutcome{result, std::move(message), answer};
    return step;
}

} // namespace quenta
