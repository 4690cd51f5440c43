#include "pure/BoardEngine.h"

#include "pure/CommandLines.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace quenta {
namespace {

const std::vector<std::string> kNoRecords;

// An answer as a report shows it: without the blanks and line ends around it.
std::string shown(std::string_view answer) {
    const auto first = answer.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = answer.find_last_not_of(" \t\r\n");
    return std::string(answer.substr(first, last - first + 1));
}

std::string seconds(int ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", ms / 1000.0);
    return text;
}

std::string milliseconds(Micros us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", static_cast<double>(us) / 1000.0);
    return text;
}

int ceilMs(Micros us) {
    const Micros ms = (us + 999) / 1000;
    return static_cast<int>(std::min<Micros>(ms, std::numeric_limits<int>::max()));
}

bool refuses(Keyword keyword) {
    return keyword == Keyword::Error || keyword == Keyword::Format;
}

// "1..127" for a run of addresses, else "3, 7, 12".
std::string addressesText(const std::vector<std::uint8_t> &addresses) {
    const bool run = !addresses.empty() &&
                     addresses.back() - addresses.front() + 1 == static_cast<int>(addresses.size());
    if (run) {
        return std::to_string(addresses.front()) + ".." + std::to_string(addresses.back());
    }
    std::string text;
    for (const std::uint8_t address : addresses) {
        text += (text.empty() ? "" : ", ") + std::to_string(address);
    }
    return text;
}

// Whether a read holds more than line ends: those may close an answer already taken.
bool holdsMoreThanLineEnds(std::string_view bytes) {
    return bytes.find_first_not_of("\r\n") != std::string_view::npos;
}

int probesWithin(int ms) {
    return ms <= kProbeIntervalMs ? 1 : (ms + kProbeIntervalMs - 1) / kProbeIntervalMs;
}

// Adds what a later step asks for to what an earlier one asked for.
void merge(Step &into, Step &&from) {
    for (std::string &bytes : from.send) {
        into.send.push_back(std::move(bytes));
    }
    if (from.timerMs) {
        into.timerMs = from.timerMs;
    }
    into.awaitPort = into.awaitPort || from.awaitPort;
    if (from.end) {
        into.end = std::move(from.end);
    }
}

} // namespace

BoardEngine::BoardEngine(BoardTask task)
    : task_(std::move(task)), reader_(task_.address.has_value() || task_.kind == JobKind::Scan) {
    AddressSet accepted;
    if (modbus()) {
        accepted.set(*task_.address);
    }
    if (task_.kind == JobKind::SetAddress) {
        accepted.set(task_.newAddress);
    }
    for (const std::uint8_t address : task_.scanAddresses) {
        accepted.set(address);
    }
    reader_.accept(accepted);
}

const std::vector<std::string> &BoardEngine::records() const {
    return task_.records ? *task_.records : kNoRecords;
}

std::string BoardEngine::frame(std::string_view command) const {
    return task_.frontEndFrames ? std::string(command) : frameCommand(command, task_.address);
}

std::size_t BoardEngine::lineNumber() const {
    return (addressFirst_ ? *addressFirst_ : cursor_) + 1;
}

std::string BoardEngine::lineCommand() const {
    const std::string &record = records()[lineNumber() - 1];
    return pass_ == Pass::Download ? downloadLine(record) : verifyLine(record);
}

std::string BoardEngine::where() const {
    if (!passStarted_) {
        return "before the first line";
    }
    return "at line " + std::to_string(lineNumber()) + " of the " +
           (pass_ == Pass::Download ? "download" : "verify");
}

Step BoardEngine::start(Micros now) {
    now_ = now;
    if (task_.kind == JobKind::Scan) {
        scanBegan_ = now;
        return scanNext();
    }
    if (!task_.probeFirst) {
        return begin();
    }
    probesLeft_ = probesWithin(task_.patience.waitMs);
    return probe();
}

Step BoardEngine::probe() {
    phase_ = Phase::Probing;
    --probesLeft_;
    ++probesSent_;
    Step step;
    step.send.push_back(frame(kInfoCommand));
    step.timerMs = kProbeIntervalMs;
    return step;
}

Step BoardEngine::scanNext() {
    if (scanAt_ == task_.scanAddresses.size()) {
        if (!found_.empty()) {
            return endScan();
        }
        if (now_ - scanBegan_ >= Micros{task_.patience.waitMs} * 1000) {
            return finish(JobResult::NoAnswer, "no board answered on the addresses " +
                                                   addressesText(task_.scanAddresses) + " at " +
                                                   std::to_string(task_.baud) +
                                                   " baud: check the speed and the Modbus "
                                                   "setting; power the boards");
        }
        scanAt_ = 0;
    }
    phase_ = Phase::Scanning;
    Step step;
    step.send.push_back(modbusFrame(task_.scanAddresses[scanAt_++], kInfoCommand));
    step.timerMs = task_.probeIntervalMs;
    return step;
}

Step BoardEngine::onScanAnswer(const Answer &answer) {
    if (findKeyword(answer.text) != Keyword::Version ||
        std::any_of(found_.begin(), found_.end(),
                    [&](const FoundBoard &board) { return board.address == answer.address; })) {
        return {};
    }
    found_.push_back({*answer.address, shown(answer.text)});
    return task_.firstOnly ? endScan() : Step{};
}

Step BoardEngine::endScan() {
    std::sort(found_.begin(), found_.end(),
              [](const FoundBoard &a, const FoundBoard &b) { return a.address < b.address; });
    return finish(JobResult::Ok, std::to_string(found_.size()) +
                                     (found_.size() == 1 ? " board answered" : " boards answered"));
}

Step BoardEngine::received(std::string_view bytes, Micros now) {
    now_ = now;
    Step step;
    if (phase_ == Phase::Done || phase_ == Phase::Awaiting) {
        return step;
    }
    const bool closing = phase_ == Phase::Closing;
    const Reading reading = reader_.take(bytes, now);
    if (reading.unreadable > 0 && (phase_ == Phase::Lines || phase_ == Phase::Draining)) {
        merge(step,
              disturb("an answer to line " + std::to_string(lineNumber()) + " could not be read"));
    }
    for (const Answer &answer : reading.answers) {
        if (phase_ == Phase::Done) {
            break;
        }
        merge(step, onAnswer(answer));
    }
    // Anything at all after the last answer of a verify pass, even the start of an answer or
    // noise, means the pass was not what it seemed; but for the rest of that answer's line end,
    // which a plain line may bring in the next read.
    if (closing && phase_ == Phase::Closing &&
        (modbus() ? !bytes.empty() : holdsMoreThanLineEnds(bytes))) {
        clean_ = false;
        disturbance_ = "something came after the answer to the end record";
        merge(step, voidPass());
    }
    return step;
}

Step BoardEngine::onAnswer(const Answer &answer) {
    switch (phase_) {
    case Phase::Probing:
        return onProbeAnswer(answer);
    case Phase::Scanning:
        return onScanAnswer(answer);
    case Phase::Settling:
        return onSettleAnswer(answer);
    case Phase::CheckingAddr:
        return onCheckAnswer(answer);
    case Phase::Single:
        return onSingleAnswer(answer);
    case Phase::Lines:
        return onLineAnswer(answer);
    case Phase::Draining:
        return onDrainAnswer(answer.text);
    case Phase::Closing:
        if (refuses(findKeyword(answer.text))) {
            return refuseAnswer(answer.text, inFlight());
        }
        clean_ = false;
        disturbance_ = "another answer came after the answer to the end record (\"" +
                       shown(answer.text) + "\")";
        return voidPass();
    case Phase::Awaiting:
    case Phase::Done:
        break;
    }
    return {};
}

Step BoardEngine::onProbeAnswer(const Answer &answer) {
    if (findKeyword(answer.text) != Keyword::Version ||
        (modbus() && answer.address != task_.address)) {
        return {};
    }
    const std::string version = shown(answer.text);
    if (passStarted_ && version != version_) {
        note_ = "the board changed across a drop, from \"" + version_ + "\" to \"" + version +
                "\", and was judged from scratch";
        next_ = Next::Begin;
        passStarted_ = false;
        voidedPasses_ = 0;
        retries_ = 0;
        timings_.clear();
        slowest_ = 0;
    }
    version_ = version;
    if (task_.acceptsVersion && !task_.acceptsVersion(version_)) {
        return finish(JobResult::WrongBoard,
                      "the bootloader answered \"" + version_ + "\" where " +
                          (task_.expectedVersion.empty() ? std::string("another board")
                                                         : "\"" + task_.expectedVersion + "\"") +
                          " was expected: nothing was written");
    }
    if (task_.kind == JobKind::Version) {
        return finish(JobResult::Ok, version_);
    }
    // More probes than one are out: their answers come yet, and must not meet a line.
    return probesSent_ > 1 ? settle(next_, passStarted_, kSettleMs) : afterSettle();
}

Step BoardEngine::settle(Next next, bool errorsRefuse, int quietMs) {
    phase_ = Phase::Settling;
    next_ = next;
    settleRefuses_ = errorsRefuse;
    settleAnswers_ = 0;
    settleMs_ = quietMs;
    Step step;
    step.timerMs = quietMs;
    return step;
}

int BoardEngine::lateMs(int times) const {
    if (task_.patience.timeoutMs <= 0) {
        return closingQuietMs();
    }
    const long long ms = 2LL * task_.patience.timeoutMs * times;
    return static_cast<int>(std::min<long long>(ms, std::numeric_limits<int>::max()));
}

int BoardEngine::closingQuietMs() const {
    const int twiceSlowest =
        ceilMs(std::min<Micros>(slowest_, std::numeric_limits<int>::max()) * 2);
    const int quiet = std::max(kSettleMs, twiceSlowest);
    return task_.patience.timeoutMs > 0 ? std::min(quiet, task_.patience.timeoutMs) : quiet;
}

Step BoardEngine::onSettleAnswer(const Answer &answer) {
    if (settleRefuses_ && refuses(findKeyword(answer.text))) {
        // It answers the line written last on the port as it is now, or an earlier one; after a
        // drop, none was.
        return refuseAnswer(answer.text, lineWritten_, true);
    }
    if (++settleAnswers_ >= kMaxSettleAnswers) {
        return afterSettle();
    }
    Step step;
    step.timerMs = settleMs_;
    return step;
}

Step BoardEngine::afterSettle() {
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

Step BoardEngine::begin() {
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
            tries_ = 0;
            return probeNewAddress();
        }
        return single(*setAddressLine(std::to_string(task_.newAddress)).line);
    case JobKind::Version:
        return finish(JobResult::Ok, version_);
    case JobKind::Scan:
        break; // a scan probes no board of its own: start() sweeps
    }
    return {};
}

Step BoardEngine::probeNewAddress() {
    phase_ = Phase::CheckingAddr;
    Step step;
    step.send.push_back(modbusFrame(task_.newAddress, kInfoCommand));
    step.timerMs = task_.patience.timeoutMs;
    return step;
}

Step BoardEngine::onCheckAnswer(const Answer &answer) {
    if (findKeyword(answer.text) != Keyword::Version || answer.address != task_.newAddress) {
        return {};
    }
    return finish(JobResult::Refused, "the address " + std::to_string(task_.newAddress) +
                                          " answers already: another board on the bus has it; "
                                          "nothing was changed");
}

Step BoardEngine::single(std::string command) {
    phase_ = Phase::Single;
    tries_ = 0;
    single_ = frame(command);
    installSent_ = task_.kind == JobKind::Install;
    ++commands_;
    Step step;
    step.send.push_back(single_);
    step.timerMs = task_.patience.timeoutMs;
    return step;
}

Step BoardEngine::onSingleAnswer(const Answer &answer) {
    const Keyword keyword = findKeyword(answer.text);
    if (keyword == Keyword::Version) {
        lastUnfit_ = shown(answer.text);
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

Step BoardEngine::startPass(Pass pass, ResumePoint point) {
    pass_ = pass;
    passStarted_ = true;
    cursor_ = point.from;
    addressFirst_ = point.addressRecord;
    if (pass == Pass::Verify) {
        clean_ = true;
        disturbance_.clear();
        ++verifyPasses_;
    }
    phase_ = Phase::Lines;
    tries_ = 0;
    sends_ = 0;
    lastUnfit_.clear();
    return sendLine(false);
}

Step BoardEngine::sendLine(bool again) {
    Step step;
    if (again) {
        ++tries_;
        ++retries_;
        disturbed_ = true;
        step = disturb("line " + std::to_string(lineNumber()) + " was sent again");
        if (step.end) {
            return step;
        }
    }
    phase_ = Phase::Lines;
    ++sends_;
    ++commands_;
    // Before a re-send, that is the line itself: an answer may be its earlier send's.
    lineBefore_ = lineWritten_;
    lineWritten_ = inFlight();
    std::string bytes = frame(lineCommand());
    sentPosition_ = reader_.position();
    sentAt_ = now_;
    sentBytes_ = bytes.size() + (task_.frontEndFrames && modbus() ? 3 : 0);
    step.send.push_back(std::move(bytes));
    step.timerMs = std::max(task_.patience.timeoutMs, 0);
    return step;
}

std::string BoardEngine::extraReason(const Answer &answer) const {
    if (answer.begin < sentPosition_) {
        return lineBefore_.line > 0
                   ? "two answers to line " + std::to_string(lineBefore_.line)
                   : "an answer came before line " + std::to_string(lineNumber()) + " was out";
    }
    if (sends_ != 1) {
        return {};
    }
    const auto timing = timings_.find({pass_, sentBytes_});
    const Micros took = answer.beganAt - sentAt_;
    if (timing != timings_.end() && timing->second.answers >= kTimedAnswers &&
        took * kSoonerFactor < timing->second.quickest &&
        timing->second.quickest - took >= kTimingSlackUs) {
        return "an answer to line " + std::to_string(lineNumber()) + " began " +
               milliseconds(took) + " after it went out, where the board never took less than " +
               milliseconds(timing->second.quickest) + " for such a line";
    }
    return {};
}

void BoardEngine::learn(const Answer &answer, bool own) {
    if (sends_ != 1 || answer.begin < sentPosition_) {
        return;
    }
    if (own) {
        slowest_ = std::max(slowest_, now_ - sentAt_);
    }
    // An answer judged too soon is learned too: a board's time is what it shows, and a quicker
    // answer that was no echo must not void every pass to come.
    Timing &timing = timings_[{pass_, sentBytes_}];
    const Micros took = answer.beganAt - sentAt_;
    timing.quickest = timing.answers == 0 ? took : std::min(timing.quickest, took);
    ++timing.answers;
}

Step BoardEngine::onLineAnswer(const Answer &answer) {
    const Keyword keyword = findKeyword(answer.text);
    const bool last = lineNumber() == lines();
    const bool fits = (keyword == Keyword::Ok && !last) || (keyword == Keyword::Download && last);
    std::string extra = extraReason(answer);
    if (fits) {
        learn(answer, extra.empty());
    }
    if (refuses(keyword)) {
        return answer.begin < sentPosition_ ? refuseAnswer(answer.text, lineBefore_, true)
                                            : refuseAnswer(answer.text, inFlight());
    }
    if (!extra.empty()) {
        return onExtraAnswer(std::move(extra));
    }
    if (fits) {
        return last ? endOfPass() : advance();
    }
    return onFittingAnswer(keyword, answer.text);
}

Step BoardEngine::onExtraAnswer(std::string reason) {
    disturbed_ = true;
    return pass_ == Pass::Verify ? disturb(std::move(reason)) : Step{};
}

// An answer that began in time but is not the one the line wants.
Step BoardEngine::onFittingAnswer(Keyword keyword, const std::string &text) {
    if (keyword == Keyword::Version || keyword == Keyword::None) {
        // A late answer to a probe, or one that cannot be read: it answers no line.
        lastUnfit_ = shown(text);
        return pass_ == Pass::Verify
                   ? disturb("an answer that fits no line came while line " +
                             std::to_string(lineNumber()) + " was out (\"" + lastUnfit_ + "\")")
                   : Step{};
    }
    if (keyword == Keyword::Download && pass_ == Pass::Download) {
        return finish(JobResult::Refused,
                      "line " + std::to_string(lineNumber()) +
                          ": the board reported the end of the file before the last line, " +
                          std::to_string(lines()));
    }
    return onUnfitLine(text);
}

Step BoardEngine::onUnfitLine(std::string_view text) {
    // An answer that does not fit the line answered an earlier command, or the board is confused:
    // the line goes out again, as for a missing answer.
    lastUnfit_ = shown(text);
    if (tries_ < task_.patience.retries) {
        return sendLine(true);
    }
    const std::string line = std::to_string(lineNumber());
    if (lineNumber() == lines()) {
        return finish(JobResult::Refused, "line " + line + ", the last: the board answered \"" +
                                              lastUnfit_ +
                                              "\" and never reported the end of the file");
    }
    return finish(JobResult::Refused, "line " + line + ": the board answered \"" + lastUnfit_ +
                                          "\" where \"OK\" was due");
}

Step BoardEngine::advance() {
    strays_ = sends_ - 1;
    strayLine_ = lineNumber();
    if (addressFirst_) {
        addressFirst_.reset();
    } else {
        ++cursor_;
    }
    sends_ = 0;
    tries_ = 0;
    lastUnfit_.clear();
    if (strays_ > 0) {
        // The line was answered after `strays_` re-sends: their answers take as long again.
        phase_ = Phase::Draining;
        Step step;
        step.timerMs = lateMs(strays_ + 1);
        return step;
    }
    return sendLine(false);
}

Step BoardEngine::onDrainAnswer(const std::string &text) {
    const Keyword keyword = findKeyword(text);
    if (refuses(keyword)) {
        return refuseAnswer(text, {strayLine_, pass_});
    }
    if (keyword == Keyword::Version || keyword == Keyword::None || --strays_ > 0) {
        return disturb("more answers than lines came at line " + std::to_string(strayLine_));
    }
    return sendLine(false);
}

Step BoardEngine::lineTimeout() {
    if (tries_ < task_.patience.retries) {
        return sendLine(true);
    }
    const std::string line = "line " + std::to_string(lineNumber());
    const std::string tries = std::to_string(task_.patience.retries + 1);
    if (!lastUnfit_.empty()) {
        const std::string due = lineNumber() == lines() ? "DOWNLOAD" : "OK";
        return finish(JobResult::Refused, line + ": the board answered \"" + lastUnfit_ +
                                              "\" where \"" + due + "\" was due, " + tries +
                                              " tries");
    }
    return finish(JobResult::NoAnswer, line + ": no answer after " + tries + " tries");
}

Step BoardEngine::endOfPass() {
    if (pass_ == Pass::Download) {
        return disturbed_ ? settle(Next::Verify, true, lateMs()) : startPass(Pass::Verify, {});
    }
    if (!clean_ || sends_ != 1) {
        return voidPass();
    }
    phase_ = Phase::Closing;
    Step step;
    step.timerMs = closingQuietMs();
    return step;
}

Step BoardEngine::disturb(std::string reason) {
    if (pass_ != Pass::Verify || !passStarted_) {
        return {};
    }
    if (clean_) {
        clean_ = false;
        disturbance_ = std::move(reason);
    }
    // In the last pass a job may run, nothing can be proven any more.
    return voidedPasses_ + 1 >= task_.patience.verifyPasses ? voidPass() : Step{};
}

Step BoardEngine::voidPass() {
    ++voidedPasses_;
    if (voidedPasses_ < task_.patience.verifyPasses) {
        return settle(Next::Verify, true, lateMs());
    }
    if (task_.patience.verifyPasses <= 1) {
        return finish(JobResult::Refused, disturbance_ + ": verify again");
    }
    return finish(JobResult::Refused,
                  "the verify was disturbed " + std::to_string(voidedPasses_) +
                      " times (re-sent lines, late, extra or unreadable answers): the board is not "
                      "proven to hold the file; the last time " +
                      disturbance_ +
                      (retries_ > 0 ? "; answers came later than the timeout (" +
                                          std::to_string(task_.patience.timeoutMs) +
                                          " ms): check it against the board's answer time"
                                    : std::string()));
}

Step BoardEngine::refuseAnswer(const std::string &text, PassLine at, bool orEarlier) {
    const std::string where =
        at.line == 0 ? "before line " + std::to_string(lineNumber())
                     : "line " + std::to_string(at.line) + (orEarlier ? " or an earlier one" : "");
    const Pass pass = at.line == 0 ? pass_ : at.pass;
    return finish(JobResult::Refused,
                  where + ": " + (pass == Pass::Verify ? "verify: " : "") +
                      "the board answered \"" + shown(text) + "\"",
                  findKeyword(text));
}

Step BoardEngine::timerFired(Micros now) {
    now_ = now;
    switch (phase_) {
    case Phase::Scanning:
        return scanNext();
    case Phase::Probing:
        if (probesLeft_ > 0) {
            return probe();
        }
        return finish(JobResult::NoAnswer,
                      "the bootloader did not answer within " + seconds(task_.patience.waitMs) +
                          " s: check the speed (" + std::to_string(task_.baud) +
                          " baud), the Modbus setting and the address; power the board");
    case Phase::Settling:
        return afterSettle();
    case Phase::CheckingAddr:
        if (tries_ < task_.patience.retries) {
            ++tries_;
            return probeNewAddress();
        }
        return single(*setAddressLine(std::to_string(task_.newAddress)).line);
    case Phase::Single:
        if (tries_ < task_.patience.retries) {
            ++tries_;
            ++retries_;
            ++commands_;
            Step step;
            step.send.push_back(single_);
            step.timerMs = task_.patience.timeoutMs;
            return step;
        }
        return finish(lastUnfit_.empty() ? JobResult::NoAnswer : JobResult::Refused,
                      "no answer after " + std::to_string(task_.patience.retries + 1) + " tries" +
                          (lastUnfit_.empty()
                               ? std::string()
                               : ": the board answered only \"" + lastUnfit_ + "\""));
    case Phase::Lines:
        return lineTimeout();
    case Phase::Draining:
        strays_ = 0;
        return sendLine(false);
    case Phase::Closing:
        return finish(JobResult::Ok,
                      task_.kind == JobKind::Flash ? "downloaded and verified" : "verified");
    case Phase::Awaiting:
        return finish(JobResult::PortLost, "the port went away " + lostWhere_ +
                                               " and did not come back within " +
                                               seconds(task_.patience.waitMs) + " s");
    case Phase::Done:
        break;
    }
    return {};
}

Step BoardEngine::portLost(std::string_view why, Micros now) {
    now_ = now;
    if (phase_ == Phase::Done || phase_ == Phase::Awaiting) {
        return {};
    }
    reader_.clear();
    lineWritten_ = {};
    lostWhere_ = why.empty() ? where() : where() + " (" + std::string(why) + ")";
    if (phase_ == Phase::Single && installSent_) {
        return finish(JobResult::Ok, "the firmware was started; the board left the port, as a "
                                     "board on USB does when its firmware starts");
    }
    if (phase_ == Phase::Single || phase_ == Phase::CheckingAddr || task_.patience.waitMs <= 0) {
        return finish(JobResult::PortLost, "the port went away " + lostWhere_);
    }
    if (resumed_ >= kMaxResumes) {
        return finish(JobResult::PortLost, "the port went away " + std::to_string(resumed_ + 1) +
                                               " times, the last " + lostWhere_ +
                                               ": the board or its cable keeps failing");
    }
    if (phase_ == Phase::Lines || phase_ == Phase::Draining) {
        next_ = pass_ == Pass::Download ? Next::Resume : Next::Verify;
        if (pass_ == Pass::Download) {
            resume_ = resumePoint(records(), cursor_);
        }
    } else if (phase_ == Phase::Closing) {
        next_ = Next::Verify;
    }
    phase_ = Phase::Awaiting;
    Step step;
    step.awaitPort = true;
    step.timerMs = task_.patience.waitMs;
    return step;
}

Step BoardEngine::portBack(Micros now) {
    now_ = now;
    if (phase_ != Phase::Awaiting) {
        return {};
    }
    reader_.clear();
    ++resumed_;
    if (task_.kind == JobKind::Scan) {
        // The sweep starts again, with a wait of its own, as a job's probe does.
        scanAt_ = 0;
        scanBegan_ = now;
        return scanNext();
    }
    probesSent_ = 0;
    probesLeft_ = probesWithin(task_.patience.waitMs);
    return probe();
}

Step BoardEngine::interrupt() {
    if (phase_ == Phase::Done) {
        return {};
    }
    return finish(JobResult::Interrupted, "interrupted " + where());
}

Step BoardEngine::finish(JobResult result, std::string message, Keyword answer) {
    phase_ = Phase::Done;
    if (!note_.empty()) {
        message += " (" + note_ + ")";
    }
    Step step;
    step.timerMs = 0;
    step.end = JobOutcome{result, std::move(message), answer};
    return step;
}

} // namespace quenta
