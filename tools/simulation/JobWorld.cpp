#include "simulation/JobWorld.h"

#include "pure/AnswerReader.h"
#include "pure/Colors.h"
#include "pure/engine/FirmwareJob.h"
#include "simboard/Bootloader.h"
#include "simboard/Crc.h"
#include "simulation/Line.h"
#include "simulation/Schedule.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <queue>
#include <string>
#include <vector>

using quenta::BoardEngine;
using quenta::BoardTask;
using quenta::JobKind;
using quenta::JobResult;
using quenta::Step;

namespace simulation {
namespace {

constexpr Micros kMs = 1000;
// The window polls its port this often, counted from its last write.
constexpr Micros kPollUs = 30 * kMs;
// The flasher looks for a port that went away this often.
constexpr Micros kReopenUs = 50 * kMs;
// Journal depth of the simulated boards: more than a drop ever loses.
constexpr std::size_t kJournalDepth = 16;
// How long the window's bar is watched after its END for an ERROR that turns it red.
constexpr Micros kWatchAfterEndUs = 10'000 * kMs;

std::string withCrc(std::string body) {
    return simboard::withCrc(std::move(body));
}

std::string faultName(Fault fault) {
    switch (fault) {
    case kLose:
        return "answer lost";
    case kLate:
        return "answer late";
    case kError:
        return "ERROR in the place of the answer";
    case kStrayError:
        return "a stray ERROR on its way";
    case kNoise:
        return "noise before the answer";
    case kNoiseLine:
        return "a noise line before the answer";
    case kSplit:
        return "split";
    case kForeign:
        return "a frame from another board";
    case kCorrupt:
        return "download line changed";
    case kGarble:
        return "answer garbled";
    case kDuplicate:
        return "a copy of an answer on its way";
    case kStray:
        return "a stray keyword on its way";
    case kDrop:
        return "drop";
    case kSwap:
        return "another board";
    case kLostRecords:
        return "records lost";
    case kAdapter:
        return "adapter";
    case kSlowEnd:
        return "the verdict at the end record comes slowly";
    }
    return "?";
}

// The record a line command carries, and whether it holds data.
bool isDataLine(const std::string &command) {
    return command.size() > 13 && command.compare(11, 2, "00") == 0;
}

class Simulation {
public:
    Simulation(std::uint64_t seed, bool trace)
        : rng_{seed}, trace_(trace), s_(drawSchedule(rng_)), records_(s_.firmware.records),
          traffic_(records_) {}

    Outcome run() {
        setUp();
        startJob();
        while (!done() && !events_.empty() && !outcome_.waiting) {
            const Event event = events_.top();
            events_.pop();
            now_ = event.at;
            if (now_ > bound_) {
                outcome_.overran = true;
                break;
            }
            handle(event);
        }
        if (window() && end_ && end_->result == JobResult::Ok) {
            watchAfterEnd();
        }
        finishFacts();
        outcome_.end = end_;
        outcome_.image = s_.firmware.image;
        outcome_.lines = records_.size();
        outcome_.verifyOnly = s_.verifyOnly;
        outcome_.pair = s_.profile == Profile::Pair;
        outcome_.boundMs = bound_ / kMs;
        if (heard_ != nullptr) {
            outcome_.held = heard_->memory();
        }
        return outcome_;
    }

private:
    enum class Kind { Timer, ToBoard, OnLine, ToHost, Drop, Back, Poll, Lost, Tick, Quiet };
    struct Event {
        Micros at;
        std::uint64_t order;
        Kind kind;
        std::uint64_t tag; // timer, poll or quiet generation, port epoch
        std::string bytes;
        int index = -1; // ToBoard: the write; OnLine: the delivery; ToHost: the chunk
        bool operator<(const Event &other) const {
            return at != other.at ? at > other.at : order > other.order;
        }
    };

    bool done() const { return end_.has_value(); }
    bool window() const { return s_.policy == Policy::Window; }
    bool calm() const { return s_.profile == Profile::Calm; }
    // Calm schedules end their faults when the second verify pass begins.
    bool calmOver() const { return calm() && verifyStarts_ >= 2; }
    const Faults &faults() const { return s_.faults; }

    void schedule(Micros at, Kind kind, std::uint64_t tag, std::string bytes = {}, int index = -1) {
        if (kind == Kind::ToBoard || kind == Kind::OnLine || kind == Kind::ToHost) {
            ++inFlight_;
        }
        events_.push(Event{at, order_++, kind, tag, std::move(bytes), index});
    }

    // ---- the seed's world ----

    void setUp() {
        outcome_.policy = s_.policy;
        outcome_.facts.boardCanHold = s_.boardCanHold;
        outcome_.facts.retries = s_.retries;
        outcome_.facts.paced = s_.profile == Profile::Paced;
        outcome_.facts.verifyPasses = s_.verifyPasses;
        outcome_.facts.probesInWait =
            std::max(1, (s_.waitMs + quenta::kProbeIntervalMs - 1) / quenta::kProbeIntervalMs);
        simboard::BootloaderOptions options;
        options.modbus = s_.modbus;
        options.address = s_.address;
        options.version = "4.1";
        options.memory = s_.memory;
        options.verifyReportsAtEnd = s_.reportsAtEnd;
        board_ = std::make_unique<simboard::Bootloader>(options);
        board_->rememberRecords(kJournalDepth);
        bound_ = bound();
        note(describe(s_));
        const Micros horizon = 40 * kMs * static_cast<Micros>(records_.size()) + 200 * kMs;
        for (int i = 0; i < faults().drops; ++i) {
            schedule(rng_.between64(kMs, horizon), Kind::Drop, 0);
        }
        for (int i = 0; i < faults().strays; ++i) {
            strayAt(rng_.between64(kMs, horizon + 2 * s_.boardMicros));
        }
    }

    Micros bound() const {
        const Micros lines = static_cast<Micros>(records_.size());
        const Micros timeout = static_cast<Micros>(s_.timeoutMs) * kMs;
        const Micros perLine = 4 * timeout * (s_.retries + 1) + 100 * kMs;
        const Micros passes = quenta::kMaxDisturbedPasses + s_.verifyPasses + 2;
        return (quenta::kMaxResumes + 2) *
               (static_cast<Micros>(s_.waitMs) * kMs * 3 +
                passes * (lines * (perLine + 4 * s_.boardMicros) + 4 * timeout));
    }

    // ---- the host ----

    void startJob() {
        if (window()) {
            job_.load(records_, s_.verifyOnly);
            show(job_.start(s_.modbus ? std::optional(s_.address) : std::nullopt, now_));
            return;
        }
        BoardTask task;
        task.kind = s_.verifyOnly ? JobKind::Verify : JobKind::Flash;
        task.records = &records_;
        if (s_.modbus) {
            task.address = s_.address;
        }
        task.patience = {s_.timeoutMs, s_.retries, s_.waitMs, s_.verifyPasses,
                         quenta::kMaxDisturbedPasses};
        engine_ = std::make_unique<BoardEngine>(task);
        apply(engine_->start(now_));
    }

    // The flasher: the engine's bytes go out as they are.
    void apply(Step step) {
        for (std::string &bytes : step.send) {
            std::string command = s_.modbus ? bytes.substr(1, bytes.size() - 3) : bytes;
            send(std::move(command), std::move(bytes));
        }
        if (step.timerMs) {
            ++timerGeneration_;
            if (*step.timerMs > 0) {
                schedule(now_ + *step.timerMs * kMs, Kind::Timer, timerGeneration_);
            }
        }
        if (step.awaitPort) {
            awaiting_ = true;
            portLostAt_ = now_;
            schedule(now_ + kReopenUs, Kind::Poll, 0);
        }
        if (step.end) {
            ended(*step.end);
        }
    }

    // The flasher takes an answer without its line end once the line stays quiet.
    void watchQuiet() {
        ++quietGeneration_;
        if (!done() && engine_->answerPending()) {
            schedule(now_ + quenta::kLooseAnswerQuietMs * kMs, Kind::Quiet, quietGeneration_);
        }
    }

    // The window: its job's lines are framed as its WriteCOM32 frames them, with the board's own
    // CRC; its timer is looked at on the poll.
    void show(const quenta::JobView &view) {
        for (const std::string &line : view.lines) {
            std::string bytes =
                s_.modbus ? withCrc(std::string(1, static_cast<char>(s_.address)) + line) : line;
            send(line, std::move(bytes));
        }
        if (view.timerMs) {
            alarm_.reset();
            if (*view.timerMs > 0) {
                alarm_ = now_ + *view.timerMs * kMs;
            }
        }
        if (view.end) {
            ended(*view.end);
        }
    }

    void ended(quenta::JobOutcome outcome) {
        note("end " + std::string(quenta::resultName(outcome.result)) + ": " + outcome.message);
        end_ = std::move(outcome);
        outcome_.facts.readsAtEnd = traffic_.reads();
    }

    // The window keeps reading after its END: an ERROR turns the bar red, and it stays red.
    void watchAfterEnd() {
        const Micros until = now_ + kWatchAfterEndUs;
        while (!events_.empty() && events_.top().at <= until) {
            const Event event = events_.top();
            events_.pop();
            now_ = event.at;
            const bool current = event.tag == epoch_ && portUp_;
            if (event.kind == Kind::OnLine && current) {
                onLine(event.index);
            } else if (event.kind == Kind::ToHost && current) {
                const std::vector<int> ends = chunks_[static_cast<std::size_t>(event.index)].ends;
                takeRead({event.index});
                for (const int id : ends) {
                    if (traffic_.items()[static_cast<std::size_t>(id)].keyword == "ERROR" &&
                        !outcome_.redAfterEnd) {
                        outcome_.redAfterEnd = true;
                        ended({JobResult::Refused, "an ERROR came after END",
                               quenta::Keyword::Error});
                    }
                }
            }
        }
        outcome_.facts.readsAtEnd = traffic_.reads();
    }

    void send(std::string command, std::string bytes) {
        note("send " + printable(bytes));
        if (s_.verifyOnly && command.rfind("BOOT:", 0) == 0 && outcome_.downloadInVerify.empty()) {
            outcome_.downloadInVerify = printable(command);
        }
        // Written while the port was already gone (the host had not noticed yet), it reached no
        // board: nothing that comes once the port is back answers it.
        const int write =
            traffic_.write(now_, command, bytes.size(), portUp_ ? static_cast<int>(epoch_) : -1);
        const Write &written = traffic_.writes().back();
        if (written.passStart) {
            beginVerifyPass();
        }
        if (window()) {
            ++pollGeneration_;
            schedule(now_ + kPollUs, Kind::Tick, pollGeneration_);
        }
        afterWrite(written);
        if (!portUp_) {
            traffic_.markCut(write);
            return;
        }
        if (command.rfind("BOOT:", 0) == 0 && wantsCorrupt(written)) {
            if (const auto changed = corrupted(command)) {
                pairCorrupted_ = true;
                bytes = s_.modbus
                            ? withCrc(std::string(1, static_cast<char>(s_.address)) + *changed)
                            : *changed;
                noteFault(kCorrupt);
                note("corrupted on the way: " + printable(*changed));
            }
        }
        wireFree_ = std::max(wireFree_, now_) + static_cast<Micros>(bytes.size()) * s_.byteMicros;
        // An eager board answers as the line's CR is in, before its LF.
        const Micros in = wireFree_ - (s_.pace == Pace::Eager ? s_.byteMicros : 0);
        schedule(in, Kind::ToBoard, epoch_, bytes, write);
    }

    // A verify pass begins: a pair may meet again in it.
    void beginVerifyPass() {
        if (++verifyStarts_ == 2) {
            note("the second verify pass begins");
        }
        if (faults().pair == Pair::None) {
            return;
        }
        pairArmed_ = verifyStarts_ == 1 || rng_.chance(faults().pairAgain);
        pairErrorMet_ = pairCopied_ = pairStray_ = false;
    }

    // A pair against a flashed board: one data line in the later half of the file reaches the
    // board changed, the first time it goes out.
    bool wantsCorrupt(const Write &written) {
        if (faults().pair != Pair::None) {
            return !s_.verifyOnly && !pairCorrupted_ && !written.lines.empty() &&
                   written.lines.front() == s_.pairLine + 1;
        }
        return allowed() && rng_.chance(faults().corrupt);
    }

    // The line whose ERROR a pair's board gives: its differing record's, or the end record's.
    std::size_t pairErrorLine() const {
        return s_.reportsAtEnd ? records_.size() : s_.pairLine + 1;
    }

    // Whether the pair's one copy goes with the verify of this write, of line `line`.
    bool pairCopyDue(int write, std::size_t line) const {
        const Write &written = traffic_.writes()[static_cast<std::size_t>(write)];
        return pairArmed_ && !pairCopied_ && written.kind == CommandKind::Verify &&
               !written.lines.empty() && written.lines.front() == line;
    }

    // What a write sets off on the line besides its answer: a stray keyword soon after.
    void afterWrite(const Write &written) {
        if (faults().pair == Pair::SlowEnd && pairArmed_ && written.kind == CommandKind::Verify &&
            written.endRecord && !pairStray_) {
            pairStray_ = true;
            strayAt(now_ + rng_.between64(kMs, 5 * kMs), "DOWNLOAD");
            return;
        }
        if (disturbanceAllowed() && rng_.chance(strayChance(written))) {
            useDisturbance();
            strayAt(now_ + rng_.between64(0, 3 * answerMicros()));
        }
    }

    double strayChance(const Write &written) const {
        if (calm()) {
            return faults().calmDisturbance && written.kind == CommandKind::Verify ? 0.05 : 0.0;
        }
        return faults().stray;
    }

    Micros answerMicros() const { return 12 * s_.byteMicros + s_.boardMicros; }

    // A download line with one data byte changed and its checksum made good again: the board
    // takes it and writes the wrong byte. None for a line without data.
    std::optional<std::string> corrupted(const std::string &text) {
        const std::size_t digits = text.find(':') + 1;
        const std::size_t end = text.find('\r');
        const std::string body = text.substr(digits, end - digits);
        const unsigned count = static_cast<unsigned>(std::stoul(body.substr(0, 2), nullptr, 16));
        if (count == 0 || std::stoul(body.substr(6, 2), nullptr, 16) != 0) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> data;
        for (unsigned i = 0; i < count; ++i) {
            data.push_back(
                static_cast<std::uint8_t>(std::stoul(body.substr(8 + 2 * i, 2), nullptr, 16)));
        }
        data[static_cast<std::size_t>(rng_.below(static_cast<int>(count)))] ^= 0x5A;
        const unsigned offset = static_cast<unsigned>(std::stoul(body.substr(2, 4), nullptr, 16));
        return text.substr(0, digits - 1) + hexRecord(0, offset, data) + text.substr(end);
    }

    // ---- events ----

    void handle(const Event &event) {
        switch (event.kind) {
        case Kind::Timer:
            if (event.tag == timerGeneration_) {
                note("timer");
                apply(engine_->timerFired(now_));
            }
            break;
        case Kind::Quiet:
            if (event.tag == quietGeneration_) {
                note("quiet");
                apply(engine_->quiet(now_));
            }
            break;
        case Kind::ToBoard:
            --inFlight_;
            if (event.tag == epoch_ && portUp_) {
                toBoard(event.bytes, event.index);
            } else {
                traffic_.markCut(event.index);
            }
            break;
        case Kind::OnLine:
            --inFlight_;
            if (event.tag == epoch_ && portUp_) {
                onLine(event.index);
            }
            break;
        case Kind::ToHost:
            --inFlight_;
            if (event.tag == epoch_ && portUp_) {
                toHost(event.index);
            }
            break;
        case Kind::Tick:
            if (event.tag == pollGeneration_) {
                tick();
            }
            break;
        case Kind::Drop:
            drop();
            break;
        case Kind::Lost:
            note("port lost");
            if (!awaiting_) {
                portLostAt_ = now_;
            }
            apply(engine_->portLost("the device went away", now_));
            break;
        case Kind::Back:
            portUp_ = true;
            note("port back");
            break;
        case Kind::Poll:
            reopen();
            break;
        }
    }

    void reopen() {
        if (!awaiting_) {
            return;
        }
        if (!portUp_) {
            schedule(now_ + kReopenUs, Kind::Poll, 0);
            return;
        }
        awaiting_ = false;
        if (now_ >= portLostAt_ + s_.waitMs * kMs) {
            outcome_.facts.dropOutlastedWait = true;
        }
        apply(engine_->portBack(now_));
    }

    // The flasher reads as bytes come: everything that reaches the host at one moment is one read.
    void toHost(int chunk) {
        if (window()) {
            waitingChunks_.push_back(chunk);
            return;
        }
        std::vector<int> chunks{chunk};
        while (!events_.empty() && events_.top().at == now_ && events_.top().kind == Kind::ToHost) {
            --inFlight_;
            if (events_.top().tag == epoch_) {
                chunks.push_back(events_.top().index);
            }
            events_.pop();
        }
        const std::string bytes = takeRead(chunks);
        apply(engine_->received(bytes, now_));
        watchQuiet();
    }

    // The window reads at its poll all that came since the last one, then looks at its timer; a
    // poll that reads nothing takes an answer that came without its line end.
    void tick() {
        const std::uint64_t generation = pollGeneration_;
        if (!waitingChunks_.empty()) {
            const std::vector<int> chunks = std::move(waitingChunks_);
            waitingChunks_.clear();
            const std::string bytes = takeRead(chunks);
            show(job_.received(bytes, now_));
        } else if (job_.answerPending()) {
            note("quiet poll");
            show(job_.quiet(now_));
        }
        if (!done() && alarm_ && now_ >= *alarm_) {
            alarm_.reset();
            note("timer");
            show(job_.timerFired(now_));
        }
        if (done()) {
            return;
        }
        if (!alarm_ && waitingChunks_.empty() && inFlight_ == 0 && !job_.answerPending()) {
            note("waiting for an answer that will not come");
            outcome_.waiting = true;
            return;
        }
        if (generation == pollGeneration_) {
            schedule(now_ + kPollUs, Kind::Tick, pollGeneration_);
        }
    }

    std::string takeRead(const std::vector<int> &chunks) {
        std::string bytes;
        std::vector<int> begins;
        std::vector<int> ends;
        for (const int id : chunks) {
            const Chunk &chunk = chunks_[static_cast<std::size_t>(id)];
            bytes += chunk.bytes;
            begins.insert(begins.end(), chunk.begins.begin(), chunk.begins.end());
            ends.insert(ends.end(), chunk.ends.begin(), chunk.ends.end());
        }
        traffic_.read(now_, begins, ends,
                      !s_.modbus && bytes.find_first_not_of("\r\n") == std::string::npos);
        note("read " + printable(bytes));
        heard_ = board_.get();
        return bytes;
    }

    // ---- the board ----

    void toBoard(const std::string &bytes, int write) {
        for (const simboard::Exchange &exchange : board_->receive(bytes)) {
            if (exchange.downloadLine) {
                ++downloadLinesTaken_;
                if (exchange.command.rfind("BOOT:00000001FF", 0) == 0) {
                    // The end record's answer comes when every record is in the flash.
                    downloadLinesTaken_ = 0;
                }
            }
            echo(write);
            boardFree_ = std::max(boardFree_, now_) + processing(exchange.command);
            answer(exchange, write);
            if (faults().resetAtLine > 0 && exchange.downloadLine &&
                downloadLinesTaken_ == static_cast<std::size_t>(faults().resetAtLine)) {
                drop();
                return;
            }
        }
    }

    // How long the board takes for a command, by its pace.
    Micros processing(const std::string &command) {
        const bool line = command.rfind("BOOT:", 0) == 0 || command.rfind("BOOT#", 0) == 0;
        const std::size_t count = line ? ++paceLines_ : 0;
        const bool data = line && isDataLine(command);
        if (line && command.find("00000001FF") != std::string::npos) {
            paceLines_ = paceData_ = 0;
        }
        switch (s_.pace) {
        case Pace::SlowFirst:
            if (data && ++paceData_ <= 3) {
                return 70 * kMs;
            }
            return line ? kMs : s_.boardMicros;
        case Pace::SlowPage:
            if (line && count % 4 == 0) {
                return 40 * kMs;
            }
            break;
        case Pace::Jitter:
            return rng_.between64(0, 30 * kMs);
        case Pace::Even:
        case Pace::Eager:
            break;
        }
        return s_.boardMicros * rng_.between(85, 115) / 100;
    }

    // A board that sends its last answer again before it answers the next command.
    void echo(int write) {
        const bool pairCopy = faults().pair == Pair::LostError && faults().pairEcho &&
                              pairCopyDue(write, pairErrorLine());
        if (lastAnswer_.empty() || (!pairCopy && (!disturbanceAllowed() ||
                                                  !rng_.chance(disturbChance(faults().dupEcho))))) {
            return;
        }
        pairCopied_ = pairCopied_ || pairCopy;
        useDisturbance();
        noteFault(kDuplicate);
        Delivery copy(!s_.modbus);
        copy.add(lastAnswer_, item(ItemKind::Duplicate, lastKeyword_, lastWrite_),
                 keywordOffset(lastAnswer_, s_.modbus));
        deliver(std::max(boardFree_, now_) + static_cast<Micros>(copy.bytes.size()) * s_.byteMicros,
                std::move(copy), true);
    }

    // How likely a disturbance is: calm schedules draw their one in the first verify pass, pairs
    // theirs in verify passes.
    double disturbChance(double rate) const {
        if (calm()) {
            return faults().calmDisturbance && verifyStarts_ == 1 ? 0.05 : 0.0;
        }
        const Write *last = traffic_.lastWrite();
        const bool verifying = last != nullptr && last->kind == CommandKind::Verify;
        return faults().pair == Pair::None || verifying ? rate : 0.0;
    }

    // Whether a stray, duplicate, noise line or garbled answer may come now: calm schedules allow
    // one, in the first verify pass.
    bool disturbanceAllowed() const {
        if (!calm()) {
            return true;
        }
        const Write *last = traffic_.lastWrite();
        return faults().calmDisturbance && verifyStarts_ == 1 && !calmDisturbed_ &&
               last != nullptr && last->kind == CommandKind::Verify;
    }
    void useDisturbance() { calmDisturbed_ = calmDisturbed_ || calm(); }

    bool allowed() const { return !calmOver(); }

    int item(ItemKind kind, std::string keyword, int answers) {
        return traffic_.item(kind, std::move(keyword), answers, static_cast<int>(epoch_));
    }

    // An answer text as the board puts it on the line: framed in Modbus mode, and without its line
    // end by a board that sends none.
    std::string framed(std::string text) const {
        if (!s_.modbus) {
            return text;
        }
        if (s_.looseFrames && text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) {
            text.resize(text.size() - 2);
        }
        return withCrc(std::string(1, static_cast<char>(s_.address)) + "B" + text);
    }

    std::string answerText(const std::string &bytes) const {
        return s_.modbus ? bytes.substr(2, bytes.size() - 4) : bytes;
    }

    void answer(const simboard::Exchange &exchange, int write) {
        std::string bytes = s_.looseFrames ? framed(answerText(exchange.answer)) : exchange.answer;
        std::string keyword = keywordOf(answerText(bytes));
        const bool verifyLine = exchange.command.rfind("BOOT#", 0) == 0;
        const bool lineCommand = exchange.command.rfind("BOOT", 0) == 0 &&
                                 (verifyLine || exchange.command.rfind("BOOT:", 0) == 0);
        const bool firstError = keyword == "ERROR" && verifyLine && pairArmed_ && !pairErrorMet_ &&
                                faults().pair != Pair::None;
        pairErrorMet_ = pairErrorMet_ || firstError;
        if (lineCommand && allowed() && !firstError && rng_.chance(faults().error)) {
            bytes = framed("ERROR\r\n");
            keyword = "ERROR";
            noteFault(kError);
        }
        Micros at = boardFree_ + static_cast<Micros>(bytes.size()) * s_.byteMicros;
        if (firstError && faults().pair == Pair::SlowEnd &&
            exchange.command.find("00000001FF") != std::string::npos) {
            at = std::max(at, slowEnd(traffic_.writes()[static_cast<std::size_t>(write)].at));
        }
        if ((firstError && (faults().pair == Pair::LostError || faults().pair == Pair::StrayOk)) ||
            (allowed() && lossAllowed(verifyLine) && rng_.chance(faults().lose))) {
            const int lost = item(ItemKind::Answer, keyword, write);
            traffic_.markLost(lost);
            noteFault(kLose);
            remember(bytes, keyword, write);
            note("answer lost: " + printable(bytes));
            if (firstError && faults().pair == Pair::StrayOk) {
                strayAt(at, "OK");
            }
            return;
        }
        remember(bytes, keyword, write);
        Delivery delivery(!s_.modbus);
        if (allowed() && rng_.chance(faults().late)) {
            at += s_.timeoutMs * kMs + rng_.between(1, s_.timeoutMs / 2 + 1) * kMs;
            noteFault(kLate);
        }
        addNoise(delivery);
        const bool garble = (firstError && faults().pair == Pair::GarbleEcho) ||
                            (disturbanceAllowed() && allowed() &&
                             rng_.chance(calm() ? disturbChance(0) : faults().garble));
        if (garble) {
            useDisturbance();
            noteFault(kGarble);
            delivery.add(garbled(bytes), item(ItemKind::Garbled, "", write), 0);
        } else {
            delivery.add(bytes, item(ItemKind::Answer, keyword, write),
                         keywordOffset(bytes, s_.modbus));
        }
        if (s_.modbus && allowed() && rng_.chance(faults().foreign)) {
            noteFault(kForeign);
            const char *texts[] = {"OK\r\n", "DOWNLOAD\r\n", "ERROR\r\n", "VER=9.9\r\n"};
            Delivery other(false);
            other.bytes = withCrc(std::string(1, static_cast<char>(s_.address % 247 + 1)) + "B" +
                                  texts[rng_.below(4)]);
            deliver(at, std::move(other), true);
        }
        const bool pairCopy = faults().pair == Pair::LostError && !faults().pairEcho &&
                              pairCopyDue(write, pairErrorLine() - 1);
        pairCopied_ = pairCopied_ || pairCopy;
        if (pairCopy || (disturbanceAllowed() && rng_.chance(disturbChance(faults().dupBack)))) {
            useDisturbance();
            noteFault(kDuplicate);
            delivery.add(bytes, item(ItemKind::Duplicate, keyword, write),
                         keywordOffset(bytes, s_.modbus));
        }
        deliver(at, std::move(delivery), true);
        if (firstError && faults().pair == Pair::GarbleEcho && !previousAnswer_.empty()) {
            noteFault(kDuplicate);
            Delivery copy(!s_.modbus);
            copy.add(previousAnswer_, item(ItemKind::Duplicate, previousKeyword_, previousWrite_),
                     keywordOffset(previousAnswer_, s_.modbus));
            deliver(at + rng_.between64(kMs, 3 * kMs), std::move(copy), true);
        }
        if (disturbanceAllowed() && rng_.chance(disturbChance(faults().dupLater))) {
            useDisturbance();
            noteFault(kDuplicate);
            Delivery copy(!s_.modbus);
            copy.add(bytes, item(ItemKind::Duplicate, keyword, write),
                     keywordOffset(bytes, s_.modbus));
            deliver(at + rng_.between64(kMs, 3 * answerMicros()), std::move(copy), false);
        }
    }

    // When the board's verdict at the end record written at `written` comes, late: from half its
    // usual answer time to four times it, within the timeout or past it.
    Micros slowEnd(Micros written) {
        noteFault(kSlowEnd);
        return written + rng_.between64(s_.boardMicros / 2, 4 * s_.boardMicros);
    }

    bool lossAllowed(bool verifyLine) const {
        return !(calm() && faults().calmDisturbance && verifyLine);
    }

    void remember(const std::string &bytes, const std::string &keyword, int write) {
        previousAnswer_ = lastAnswer_;
        previousKeyword_ = lastKeyword_;
        previousWrite_ = lastWrite_;
        lastAnswer_ = bytes;
        lastKeyword_ = keyword;
        lastWrite_ = write;
    }

    std::string garbled(const std::string &bytes) {
        if (!s_.modbus) {
            return noise(rng_, 0) + "\r\n";
        }
        const char address = static_cast<char>(s_.address);
        if (rng_.chance(0.5)) {
            // The marker is hit: the host sees a frame from the board that it cannot read.
            return withCrc(std::string(1, address) + "b" + answerText(bytes));
        }
        return framed(noise(rng_, address) + "\r\n");
    }

    void addNoise(Delivery &delivery) {
        if (!allowed() || !rng_.chance(faults().noise)) {
            return;
        }
        const std::string junk = noise(rng_, static_cast<char>(s_.address));
        if (!s_.modbus && disturbanceAllowed() && rng_.chance(0.3)) {
            useDisturbance();
            noteFault(kNoiseLine);
            delivery.add(junk + "\r\n", item(ItemKind::NoiseLine, "", -1), 0);
            return;
        }
        noteFault(kNoise);
        delivery.bytes += junk;
    }

    // A keyword from the board's address that answers nothing.
    void strayAt(Micros at, std::string keyword = {}) {
        if (keyword.empty()) {
            static const char *keywords[] = {"OK", "DOWNLOAD", "ERROR", "VER=4.1", "VER=9.9"};
            keyword = keywords[rng_.below(calm() ? 2 : 5)];
            if (calm() && rng_.chance(0.3)) {
                keyword = "VER=4.1";
            }
        }
        noteFault(keyword == "ERROR" ? kStrayError : kStray);
        Delivery delivery(!s_.modbus);
        delivery.add(framed(keyword + "\r\n"), item(ItemKind::Stray, keyword, -1), 0);
        deliver(at, std::move(delivery), false);
    }

    // What the board sends keeps its order (`inOrder`); strays and late copies come when they
    // come, between whole things on the line.
    void deliver(Micros at, Delivery delivery, bool inOrder) {
        if (inOrder) {
            at = std::max(at, boardLast_);
            boardLast_ = at;
        }
        for (const Piece &piece : delivery.pieces) {
            traffic_.markDue(piece.item, handOver(at)); // the soonest it can come
        }
        deliveries_.push_back(std::move(delivery));
        schedule(at, Kind::OnLine, epoch_, {}, static_cast<int>(deliveries_.size()) - 1);
    }

    // The line carries one thing at a time: whole, or in two pieces with a stall between. An
    // adapter hands bytes over at its ticks.
    void onLine(int index) {
        const Delivery &delivery = deliveries_[static_cast<std::size_t>(index)];
        const Micros start = std::max(now_, lineFree_);
        if (faults().adapterMs > 0) {
            noteFault(kAdapter);
        }
        if (allowed() && rng_.chance(faults().split) && delivery.bytes.size() > 1) {
            noteFault(kSplit);
            const std::size_t cut = static_cast<std::size_t>(
                rng_.between(1, static_cast<int>(delivery.bytes.size()) - 1));
            const Micros first = handOver(start);
            lineFree_ = handOver(start + rng_.between(1, 30) * kMs);
            schedule(first, Kind::ToHost, epoch_, {}, chunk(delivery, 0, cut, first));
            schedule(lineFree_, Kind::ToHost, epoch_, {},
                     chunk(delivery, cut, delivery.bytes.size(), lineFree_));
            return;
        }
        lineFree_ = handOver(start);
        schedule(lineFree_, Kind::ToHost, epoch_, {},
                 chunk(delivery, 0, delivery.bytes.size(), lineFree_));
    }

    Micros handOver(Micros at) const {
        if (faults().adapterMs <= 0) {
            return at;
        }
        const Micros tick = faults().adapterMs * kMs;
        return (at + tick - 1) / tick * tick;
    }

    // The bytes from `from` to `to` of a delivery, due at the host at `at`.
    int chunk(const Delivery &delivery, std::size_t from, std::size_t to, Micros at) {
        Chunk piece;
        piece.bytes = delivery.bytes.substr(from, to - from);
        for (const Piece &p : delivery.pieces) {
            if (p.begin >= from && p.begin < to) {
                piece.begins.push_back(p.item);
            }
            if (p.last >= from && p.last < to) {
                piece.ends.push_back(p.item);
                traffic_.markDue(p.item, at);
            }
        }
        chunks_.push_back(std::move(piece));
        return static_cast<int>(chunks_.size()) - 1;
    }

    void drop() {
        if (!portUp_ || done() || !allowed()) {
            return;
        }
        traffic_.cutOff(static_cast<int>(epoch_));
        ++epoch_;
        portUp_ = false;
        wireFree_ = boardFree_ = boardLast_ = lineFree_ = now_;
        noteFault(kDrop);
        ++outcome_.facts.drops;
        lastAnswer_.clear();
        previousAnswer_.clear();
        paceLines_ = paceData_ = 0;
        if (faults().swap) {
            swapBoard();
        } else {
            // A board loses only records it acknowledged since its last end record.
            const std::size_t lost = std::min<std::size_t>(
                static_cast<std::size_t>(faults().lostRecords), downloadLinesTaken_);
            if (lost > 0) {
                noteFault(kLostRecords);
            }
            outcome_.facts.mostRecordsLost = std::max(outcome_.facts.mostRecordsLost, lost);
            board_->reboot(lost);
        }
        downloadLinesTaken_ = 0;
        const Micros away =
            (faults().longDrop && rng_.chance(0.5) ? s_.waitMs + rng_.between(1, 500)
                                                   : rng_.between(10, s_.waitMs / 2 + 10)) *
            kMs;
        const Micros lost = rng_.between(0, 20) * kMs;
        note("drop for " + std::to_string(away / kMs) + " ms");
        // The flasher looks for the port every kReopenUs from the moment it lost it.
        const Micros reopened =
            lost + std::max<Micros>(1, (away - lost + kReopenUs - 1) / kReopenUs) * kReopenUs;
        // A drop while the flasher still waits for the port makes one outage with the last.
        if (reopened >= lost + s_.waitMs * kMs || awaiting_) {
            outcome_.facts.dropOutlastedWait = true;
        }
        schedule(now_ + lost, Kind::Lost, 0);
        schedule(now_ + away, Kind::Back, 0);
    }

    void swapBoard() {
        const std::string version = calm() || rng_.chance(0.5) ? nextVersion() : "4.1";
        noteFault(kSwap);
        if (s_.verifyOnly || traffic_.versionReached("VER=" + version)) {
            // A blank board that a verify must refuse, or one the host cannot tell from a board it
            // heard before.
            outcome_.facts.boardCanHold = false;
        }
        simboard::BootloaderOptions options;
        options.modbus = s_.modbus;
        options.address = s_.address;
        options.verifyReportsAtEnd = rng_.chance(0.5);
        retired_.push_back(std::move(board_));
        board_ = std::make_unique<simboard::Bootloader>(simboard::blankBoard(options, version));
        board_->rememberRecords(kJournalDepth);
        note("another board comes back, version " + version);
    }

    std::string nextVersion() { return "5." + std::to_string(++swaps_); }

    void noteFault(Fault fault) {
        if (trace_ && (fault & (kAdapter | kSplit)) == 0) {
            note("fault: " + faultName(fault));
        }
        outcome_.facts.faults |= fault;
        if (verifyStarts_ >= 2 && (fault & kHarmless) == 0) {
            outcome_.facts.faultAfterSecondVerify = true;
        }
    }

    // What the record of the line says, once the job is over.
    void finishFacts() {
        Facts &facts = outcome_.facts;
        if (!done()) {
            facts.readsAtEnd = traffic_.reads();
        }
        facts.lateAnswer = traffic_.lateAnswer(s_.timeoutMs * kMs, quenta::kProbeIntervalMs * kMs);
        facts.longestLineMisses = traffic_.longestMissRun(CommandKind::Download);
        facts.longestProbeMisses = traffic_.longestMissRun(CommandKind::Probe);
        facts.lineWrites = traffic_.lineWrites();
        facts.reSends = traffic_.lineRepeats();
        const std::vector<std::size_t> starts = traffic_.verifyStarts();
        facts.verifyStarts = starts.size();
        const auto readsBefore = [&](std::size_t n) {
            return n < starts.size() ? traffic_.writes()[starts[n]].readsBefore
                                     : traffic_.reads() + 1;
        };
        for (const Item &item : traffic_.items()) {
            const bool disturbance = item.kind != ItemKind::Answer;
            if (disturbance && item.beginRead) {
                const bool inFirst = *item.beginRead >= readsBefore(0) &&
                                     *item.beginRead < readsBefore(1) &&
                                     traffic_.verifyLineBefore(*item.beginRead);
                ++(inFirst ? facts.disturbancesInFirstVerify : facts.disturbancesElsewhere);
                facts.faultAfterSecondVerify =
                    facts.faultAfterSecondVerify || *item.beginRead >= readsBefore(1);
                facts.strayOrCopyRead = facts.strayOrCopyRead || item.kind == ItemKind::Stray ||
                                        item.kind == ItemKind::Duplicate;
            }
            const bool missed =
                item.lost || (item.kind == ItemKind::Garbled && item.beginRead.has_value());
            const CommandKind answered =
                item.answers >= 0 ? traffic_.writes()[static_cast<std::size_t>(item.answers)].kind
                                  : CommandKind::Probe;
            facts.lossInVerify = facts.lossInVerify || (missed && answered == CommandKind::Verify);
            facts.answerMissing =
                facts.answerMissing || ((missed || item.cut) && answered != CommandKind::Probe);
        }
        facts.errors = traffic_.errors(facts.readsAtEnd);
        facts.writesAfterError = writesAfterFirstError(facts.errors);
        facts.lastPass =
            traffic_.reviewLastPass(facts.readsAtEnd, window() ? 0 : s_.timeoutMs * kMs);
    }

    // Commands written after the read that brought the first ERROR that answered a line.
    std::size_t writesAfterFirstError(const std::vector<ErrorSeen> &errors) const {
        std::optional<std::size_t> first;
        for (const ErrorSeen &error : errors) {
            if (error.binding) {
                first = std::min(first.value_or(error.read), error.read);
            }
        }
        if (!first) {
            return 0;
        }
        return static_cast<std::size_t>(
            std::count_if(traffic_.writes().begin(), traffic_.writes().end(),
                          [&](const Write &write) { return write.readsBefore > *first; }));
    }

    void note(const std::string &what) {
        if (trace_) {
            std::printf("%10.3f ms  %s\n", static_cast<double>(now_) / kMs, what.c_str());
        }
    }

    Rng rng_;
    bool trace_;
    Schedule s_;
    std::vector<std::string> records_;
    std::unique_ptr<simboard::Bootloader> board_;
    std::vector<std::unique_ptr<simboard::Bootloader>> retired_;
    int swaps_ = 0;
    const simboard::Bootloader *heard_ = nullptr;
    Micros bound_ = 0;
    std::unique_ptr<BoardEngine> engine_;
    quenta::FirmwareJob job_;
    std::optional<Micros> alarm_;
    std::vector<int> waitingChunks_;
    std::uint64_t pollGeneration_ = 0;
    std::uint64_t quietGeneration_ = 0;
    Traffic traffic_;
    std::vector<Chunk> chunks_;
    std::priority_queue<Event> events_;
    std::uint64_t order_ = 0;
    int inFlight_ = 0;
    std::uint64_t timerGeneration_ = 0;
    std::uint64_t epoch_ = 0;
    bool portUp_ = true;
    bool awaiting_ = false;
    Micros portLostAt_ = 0;
    Micros now_ = 0;
    Micros wireFree_ = 0;
    Micros boardFree_ = 0;
    Micros boardLast_ = 0; // when the board's last answer is due on the line
    Micros lineFree_ = 0;  // when the line to the host is free
    std::vector<Delivery> deliveries_;
    std::size_t downloadLinesTaken_ = 0;
    std::size_t paceLines_ = 0; // line commands of the pass under way, for the board's pace
    std::size_t paceData_ = 0;  // data lines among them
    int verifyStarts_ = 0;
    bool calmDisturbed_ = false;
    bool pairArmed_ = true; // the pair meets in the verify pass under way
    bool pairErrorMet_ = false;
    bool pairStray_ = false;
    bool pairCorrupted_ = false;
    bool pairCopied_ = false;
    std::string lastAnswer_;
    std::string lastKeyword_;
    int lastWrite_ = -1;
    std::string previousAnswer_;
    std::string previousKeyword_;
    int previousWrite_ = -1;
    std::optional<quenta::JobOutcome> end_;
    Outcome outcome_;
};

} // namespace

Outcome runJob(std::uint64_t seed, bool trace) {
    return Simulation(seed, trace).run();
}

} // namespace simulation
