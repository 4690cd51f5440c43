#include "simulation/JobWorld.h"

#include "pure/Colors.h"
#include "pure/FirmwareJob.h"
#include "simboard/Bootloader.h"
#include "simboard/Crc.h"
#include "simulation/Firmware.h"
#include "simulation/Rng.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
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

// The kind of schedule drawn for a seed.
enum class Profile {
    Clean,  // no fault
    Calm,   // faults a flasher recovers from, ending when the second verify pass begins
    Gentle, // faults that change nothing but the reads: split answers, adapters, other boards
    Wild,   // anything
    Pair,   // two faults in one verify pass, against a board that does not hold the file
};

// Two faults in one verify pass, against a board that does not hold the file.
enum class Pair {
    None,
    LostError,  // the first ERROR the board gives is lost, and the answer before it comes twice
    GarbleEcho, // the first ERROR comes garbled, then a copy of the answer before it
    StrayOk,    // the first ERROR is lost and a stray "OK" comes in its place
    SlowEnd,    // the verify difference comes slowly at the end record, a stray "DOWNLOAD" first
};

// How each fault is drawn for one schedule.
struct Faults {
    double lose = 0;       // an answer is lost on the line
    double late = 0;       // an answer comes just past the timeout, or up to half a timeout more
    double error = 0;      // an answer to a line is "ERROR" instead
    double noise = 0;      // noise before an answer (plain: sometimes a line of its own)
    double split = 0;      // an answer arrives in two pieces
    double foreign = 0;    // Modbus: a frame from another board arrives
    double corrupt = 0;    // a download line reaches the board changed, with a valid checksum
    double garble = 0;     // an answer arrives without its keyword
    double dupBack = 0;    // an answer comes twice, back to back
    double dupEcho = 0;    // the board sends its last answer again before it answers a command
    double dupLater = 0;   // a copy of an answer comes up to three answer times later
    double stray = 0;      // after a write, a stray keyword within three answer times
    int strays = 0;        // stray keywords at any moment of the job
    int adapterMs = 0;     // bytes for the host are handed over at ticks of this many ms
    int drops = 0;         // port drops at random times
    int resetAtLine = 0;   // the board drops the port whenever it takes this download line
    int lostRecords = 0;   // a board that comes back has forgotten this many records
    bool swap = false;     // after a drop another board comes back (blank, maybe another version)
    bool longDrop = false; // a drop may outlast the wait
    // Calm schedules: the one disturbance of the first verify pass (a stray, duplicate, noise
    // line or garbled answer), and whether the verify loses answers instead.
    bool calmDisturbance = false;
    Pair pair = Pair::None;
    // LostError: the copy comes before the answer to the next line, or else right after the
    // original.
    bool pairEcho = false;
};

// The noise of a line: no line end, no letter of an answer keyword, and (Modbus) never the
// board's address.
std::string noise(Rng &rng, char address) {
    static const char alphabet[] = "bcghijpqstuxyz0123456789#$%&*+-./<>?@[]^_{}|~";
    std::string bytes;
    const int length = rng.between(1, 6);
    while (static_cast<int>(bytes.size()) < length) {
        const char c = alphabet[rng.below(static_cast<int>(sizeof alphabet) - 1)];
        if (c != address) {
            bytes += c;
        }
    }
    return bytes;
}

std::string withCrc(std::string body) {
    return simboard::withCrc(std::move(body));
}

// The keyword of one of the board's answer texts.
std::string keywordOf(const std::string &text) {
    for (const char *keyword : {"ERROR", "DOWNLOAD", "OK"}) {
        if (text.rfind(keyword, 0) == 0) {
            return keyword;
        }
    }
    if (text.rfind("VER=", 0) == 0) {
        return text.substr(0, text.find('\r'));
    }
    return {};
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

std::string hex2(unsigned value) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

std::string printable(const std::string &bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            text += c;
        } else {
            text += "\\x" + hex2(u);
        }
    }
    return text;
}

// Bytes on their way to the host, and where the things in them begin and end.
struct Piece {
    int item = -1;
    std::size_t begin = 0; // its first keyword byte (plain) or frame byte (Modbus)
    std::size_t last = 0;  // its last byte
};
struct Delivery {
    // Plain mode: the host takes a thing whole at its first line end; Modbus: at its last byte.
    explicit Delivery(bool byLines) : byLines(byLines) {}

    void add(const std::string &more, int item, std::size_t beginOffset) {
        if (item >= 0) {
            const std::size_t last =
                byLines ? more.find_first_of("\r\n", beginOffset) : more.size() - 1;
            pieces.push_back({item, bytes.size() + beginOffset, bytes.size() + last});
        }
        bytes += more;
    }

    bool byLines;
    std::string bytes;
    std::vector<Piece> pieces;
};
struct Chunk {
    std::string bytes;
    std::vector<int> begins;
    std::vector<int> ends;
};

class Simulation {
public:
    Simulation(std::uint64_t seed, bool trace) : rng_{seed}, trace_(trace), traffic_(records_) {}

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
        carryOn();
        finishFacts();
        outcome_.end = end_;
        outcome_.image = firmware_.image;
        outcome_.lines = records_.size();
        outcome_.verifyOnly = verifyOnly_;
        outcome_.boundMs = bound_ / kMs;
        if (heard_ != nullptr) {
            outcome_.held = heard_->memory();
        }
        return outcome_;
    }

private:
    enum class Kind { Timer, ToBoard, OnLine, ToHost, Drop, Back, Poll, Lost, Tick };
    struct Event {
        Micros at;
        std::uint64_t order;
        Kind kind;
        std::uint64_t tag; // timer or poll generation, port epoch
        std::string bytes;
        int index = -1; // ToBoard: the write; OnLine: the delivery; ToHost: the chunk
        bool operator<(const Event &other) const {
            return at != other.at ? at > other.at : order > other.order;
        }
    };

    bool done() const { return end_.has_value(); }

    // The line goes on after the job ended, for a while, so that the record knows what came too
    // late for it (the judge of the promise asks what came in the quiet the host kept).
    void carryOn() {
        const Micros until = now_ + 2 * timeoutMs_ * kMs + 8 * boardMicros_ + kPollUs;
        while (done() && !events_.empty() && events_.top().at <= until) {
            const Event event = events_.top();
            events_.pop();
            now_ = event.at;
            if ((event.kind == Kind::OnLine || event.kind == Kind::ToHost) && event.tag == epoch_ &&
                portUp_) {
                handle(event);
            }
        }
    }
    bool window() const { return policy_ == Policy::Window; }
    bool calm() const { return profile_ == Profile::Calm; }
    // Calm schedules end their faults when the second verify pass begins.
    bool calmOver() const { return calm() && verifyStarts_ >= 2; }

    void schedule(Micros at, Kind kind, std::uint64_t tag, std::string bytes = {}, int index = -1) {
        if (kind == Kind::ToBoard || kind == Kind::OnLine || kind == Kind::ToHost) {
            ++inFlight_;
        }
        events_.push(Event{at, order_++, kind, tag, std::move(bytes), index});
    }

    // ---- the seed's world ----

    void setUp() {
        policy_ = rng_.chance(0.3) ? Policy::Window : Policy::Flasher;
        profile_ = drawProfile();
        outcome_.policy = policy_;
        const bool rough = profile_ == Profile::Wild;
        firmware_ = makeFirmware(rng_, rough ? 0.1 : 0.0);
        records_ = firmware_.records;
        modbus_ = rng_.chance(0.4);
        address_ = static_cast<std::uint8_t>(rng_.between(1, 247));
        verifyOnly_ = rng_.chance(profile_ == Profile::Pair ? 0.6 : 0.35);
        byteMicros_ = 10'000'000 / (rng_.chance(0.5) ? 115200 : 19200);
        faults_ = drawFaults();
        drawTiming();
        simboard::BootloaderOptions options;
        options.modbus = modbus_;
        options.address = address_;
        options.version = "4.1";
        pairLine_ = laterDataRecord();
        options.memory = startingMemory();
        options.verifyReportsAtEnd =
            faults_.pair == Pair::SlowEnd || rng_.chance(faults_.pair == Pair::None ? 0.25 : 0.5);
        outcome_.facts.boardCanHold =
            firmware_.verifiable && (!verifyOnly_ || holds(options.memory, firmware_.image));
        reportsAtEnd_ = options.verifyReportsAtEnd;
        board_ = std::make_unique<simboard::Bootloader>(options);
        board_->rememberRecords(kJournalDepth);
        retries_ = rng_.between(0, 3);
        waitMs_ = rng_.between(200, 3000);
        outcome_.facts.retries = retries_;
        outcome_.facts.probesInWait =
            std::max(1, (waitMs_ + quenta::kProbeIntervalMs - 1) / quenta::kProbeIntervalMs);
        bound_ = bound();
        note(std::string(window() ? "window" : "flasher") + ", " + profileName() +
             (faults_.pair != Pair::None ? " " + std::to_string(static_cast<int>(faults_.pair))
                                         : std::string()) +
             (modbus_ ? ", Modbus address " + std::to_string(address_) : ", plain") +
             (verifyOnly_ ? ", verify" : ", flash") + ", timeout " + std::to_string(timeoutMs_) +
             " ms, " + std::to_string(retries_) + " retries, wait " + std::to_string(waitMs_) +
             " ms, board answers in " + std::to_string(boardMicros_) + " us" +
             (options.verifyReportsAtEnd ? ", tells a difference at the end record" : ""));
        const Micros horizon = 40 * kMs * static_cast<Micros>(records_.size()) + 200 * kMs;
        for (int i = 0; i < faults_.drops; ++i) {
            schedule(rng_.between64(kMs, horizon), Kind::Drop, 0);
        }
        for (int i = 0; i < faults_.strays; ++i) {
            strayAt(rng_.between64(kMs, horizon + 2 * boardMicros_));
        }
    }

    std::string profileName() const {
        switch (profile_) {
        case Profile::Clean:
            return "no fault";
        case Profile::Calm:
            return "recoverable faults";
        case Profile::Gentle:
            return "harmless faults";
        case Profile::Wild:
            return "any faults";
        case Profile::Pair:
            return "a pair of faults";
        }
        return {};
    }

    Profile drawProfile() {
        const int pick = rng_.below(100);
        if (pick < (window() ? 15 : 10)) {
            return Profile::Clean;
        }
        if (pick < 45) {
            return window() ? Profile::Gentle : Profile::Calm;
        }
        return pick < 85 ? Profile::Wild : Profile::Pair;
    }

    Faults drawFaults() {
        Faults f;
        auto maybe = [&](double p, double rate) { return rng_.chance(p) ? rate : 0.0; };
        switch (profile_) {
        case Profile::Clean:
            break;
        case Profile::Gentle:
            f.split = maybe(0.5, 0.3);
            f.foreign = maybe(0.4, 0.1);
            f.adapterMs = rng_.chance(0.4) ? (rng_.chance(0.5) ? 16 : 1) : 0;
            break;
        case Profile::Calm:
            f.lose = maybe(0.4, 0.05);
            f.noise = maybe(0.2, 0.1);
            f.split = maybe(0.3, 0.3);
            f.foreign = maybe(0.2, 0.05);
            f.adapterMs = rng_.chance(0.3) ? (rng_.chance(0.5) ? 16 : 1) : 0;
            f.drops = rng_.chance(0.4) ? rng_.between(1, 3) : 0;
            f.lostRecords = rng_.chance(0.5) ? 8 : rng_.between(0, 8);
            f.swap = !verifyOnly_ && rng_.chance(0.15);
            f.calmDisturbance = rng_.chance(0.5);
            break;
        case Profile::Wild:
            f.lose = maybe(0.3, 0.05);
            f.late = maybe(0.3, 0.05);
            f.error = maybe(0.15, 0.02);
            f.noise = maybe(0.2, 0.1);
            f.split = maybe(0.3, 0.3);
            f.foreign = maybe(0.2, 0.05);
            f.corrupt = maybe(0.2, 0.05);
            f.garble = maybe(0.15, 0.03);
            f.dupBack = maybe(0.15, 0.04);
            f.dupEcho = maybe(0.15, 0.04);
            f.dupLater = maybe(0.15, 0.04);
            f.stray = maybe(0.2, 0.04);
            f.strays = rng_.chance(0.2) ? rng_.between(1, 3) : 0;
            f.adapterMs = rng_.chance(0.3) ? (rng_.chance(0.5) ? 16 : 1) : 0;
            f.drops = rng_.chance(0.3) ? rng_.between(1, 3) : 0;
            f.resetAtLine = rng_.chance(0.05) ? rng_.between(1, 6) : 0;
            f.lostRecords = rng_.between(0, 10);
            f.swap = rng_.chance(0.2);
            f.longDrop = rng_.chance(0.1);
            break;
        case Profile::Pair:
            f.pair = static_cast<Pair>(rng_.between(1, 4));
            f.split = maybe(0.2, 0.3);
            f.adapterMs = rng_.chance(0.2) ? (rng_.chance(0.5) ? 16 : 1) : 0;
            f.pairEcho = rng_.chance(0.5);
            break;
        }
        if (window()) {
            // The window has no resume: a lost port only stops its job.
            f.drops = f.resetAtLine = 0;
            f.swap = f.longDrop = false;
        }
        return f;
    }

    // The board's pace, and a timeout that fits it (most of the time).
    void drawTiming() {
        const bool slow =
            faults_.pair == Pair::SlowEnd || rng_.chance(faults_.pair == Pair::None ? 0.2 : 0.5);
        std::size_t longest = 0;
        for (const std::string &record : records_) {
            longest = std::max(longest, record.size() + 6 + (modbus_ ? 3 : 0));
        }
        const Micros wire = static_cast<Micros>(longest + 12) * byteMicros_;
        if (slow) {
            timeoutMs_ = rng_.between(100, 400);
            boardMicros_ = rng_.between64(20 * kMs, std::min<Micros>(timeoutMs_ * 400, 150 * kMs));
            return;
        }
        boardMicros_ = rng_.between64(200, 3000);
        const Micros roundTrip = wire + boardMicros_ * 115 / 100 + faults_.adapterMs * kMs;
        const int least = static_cast<int>(std::max<Micros>(30, 2 * roundTrip / kMs + 1));
        timeoutMs_ =
            rng_.chance(0.9) && least < 400 ? rng_.between(least, 400) : rng_.between(30, 400);
    }

    Micros bound() const {
        const Micros lines = static_cast<Micros>(records_.size());
        const Micros perLine = 4 * static_cast<Micros>(timeoutMs_) * kMs * (retries_ + 1);
        return (quenta::kMaxResumes + 2) *
               (static_cast<Micros>(waitMs_) * kMs * 3 +
                (quenta::kMaxVerifyPasses + 2) * lines * (perLine + 4 * boardMicros_));
    }

    // What the board holds before the job: nothing, something else, or (for a verify) the file
    // itself, maybe with a few bytes changed.
    simboard::Memory startingMemory() {
        if (verifyOnly_ && profile_ != Profile::Wild) {
            simboard::Memory memory = firmware_.image;
            if (profile_ == Profile::Pair) {
                const auto places = placementOf(records_, pairLine_);
                memory[places[static_cast<std::size_t>(
                    rng_.below(static_cast<int>(places.size())))]] ^=
                    static_cast<std::uint8_t>(1 << rng_.below(8));
            }
            return memory;
        }
        simboard::Memory memory;
        const int pick = rng_.below(4);
        if (pick == 0) {
            return memory;
        }
        memory = firmware_.image;
        if (pick == 1 || !verifyOnly_) {
            for (auto &[address, byte] : memory) {
                if (rng_.chance(0.3)) {
                    byte = static_cast<std::uint8_t>(rng_.below(256));
                }
            }
        } else if (pick == 2) {
            auto it = memory.begin();
            std::advance(it, rng_.below(static_cast<int>(memory.size())));
            it->second ^= static_cast<std::uint8_t>(1 << rng_.below(8));
        }
        return memory;
    }

    // ---- the host ----

    void startJob() {
        if (window()) {
            job_.load(records_, verifyOnly_);
            show(job_.start(modbus_ ? std::optional(address_) : std::nullopt, now_));
            return;
        }
        BoardTask task;
        task.kind = verifyOnly_ ? JobKind::Verify : JobKind::Flash;
        task.records = &records_;
        if (modbus_) {
            task.address = address_;
        }
        task.patience = {timeoutMs_, retries_, waitMs_};
        engine_ = std::make_unique<BoardEngine>(task);
        apply(engine_->start(now_));
    }

    // The flasher: the engine's bytes go out as they are.
    void apply(Step step) {
        for (std::string &bytes : step.send) {
            std::string command = modbus_ ? bytes.substr(1, bytes.size() - 3) : bytes;
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

    // The window: its job's lines are framed as its WriteCOM32 frames them, with the board's own
    // CRC; its timer is looked at on the poll.
    void show(const quenta::JobView &view) {
        for (const std::string &line : view.lines) {
            std::string bytes =
                modbus_ ? withCrc(std::string(1, static_cast<char>(address_)) + line) : line;
            send(line, std::move(bytes));
        }
        if (view.timerMs) {
            alarm_.reset();
            if (*view.timerMs > 0) {
                alarm_ = now_ + *view.timerMs * kMs;
            }
        }
        if (view.barColor) {
            const bool green = *view.barColor == quenta::VbColor::Green;
            ended({green ? JobResult::Ok : JobResult::Refused,
                   green ? "END" : view.answerBox.value_or("")});
        } else if (!job_.running()) {
            ended({JobResult::Refused, view.barText.value_or("")});
        }
    }

    void ended(quenta::JobOutcome outcome) {
        note("end " + std::string(quenta::resultName(outcome.result)) + ": " + outcome.message);
        end_ = std::move(outcome);
        outcome_.facts.readsAtEnd = traffic_.reads();
    }

    void send(std::string command, std::string bytes) {
        note("send " + printable(bytes));
        if (verifyOnly_ && command.rfind("BOOT:", 0) == 0 && outcome_.downloadInVerify.empty()) {
            outcome_.downloadInVerify = printable(command);
        }
        const int write = traffic_.write(now_, command, bytes.size(), static_cast<int>(epoch_));
        const Write &written = traffic_.writes().back();
        if (written.passStart && ++verifyStarts_ == 2) {
            note("the second verify pass begins");
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
                bytes = modbus_ ? withCrc(std::string(1, static_cast<char>(address_)) + *changed)
                                : *changed;
                noteFault(kCorrupt);
                note("corrupted on the way: " + printable(*changed));
            }
        }
        wireFree_ = std::max(wireFree_, now_) + static_cast<Micros>(bytes.size()) * byteMicros_;
        schedule(wireFree_, Kind::ToBoard, epoch_, bytes, write);
    }

    // A pair against a flashed board: one data line in the later half of the file reaches the
    // board changed, the first time it goes out.
    bool wantsCorrupt(const Write &written) {
        if (faults_.pair != Pair::None) {
            return !verifyOnly_ && !pairCorrupted_ && !written.lines.empty() &&
                   written.lines.front() == pairLine_ + 1;
        }
        return allowed() && rng_.chance(faults_.corrupt);
    }

    // The line whose ERROR a pair's board gives: its differing record's, or the end record's.
    std::size_t pairErrorLine() const { return reportsAtEnd_ ? records_.size() : pairLine_ + 1; }

    // Whether the pair's one copy goes with the verify of this write, of line `line`.
    bool pairCopyDue(int write, std::size_t line) const {
        const Write &written = traffic_.writes()[static_cast<std::size_t>(write)];
        return !pairCopied_ && written.kind == CommandKind::Verify && !written.lines.empty() &&
               written.lines.front() == line;
    }

    // A data record in the later half of the file (the index of the first when there is none), so
    // that the engine has timed answers of its kind before it.
    std::size_t laterDataRecord() {
        std::vector<std::size_t> later;
        for (std::size_t i = records_.size() / 2; i + 1 < records_.size(); ++i) {
            if (records_[i].compare(7, 2, "00") == 0) {
                later.push_back(i);
            }
        }
        if (later.empty()) {
            return 0;
        }
        return later[static_cast<std::size_t>(rng_.below(static_cast<int>(later.size())))];
    }

    // What a write sets off on the line besides its answer: a stray keyword soon after.
    void afterWrite(const Write &written) {
        if (faults_.pair == Pair::SlowEnd && written.kind == CommandKind::Verify &&
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
            return faults_.calmDisturbance && written.kind == CommandKind::Verify ? 0.05 : 0.0;
        }
        return faults_.stray;
    }

    Micros answerMicros() const { return 12 * byteMicros_ + boardMicros_; }

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
                arrived(event.index);
                if (!done()) {
                    toHost(event.index);
                }
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
        if (now_ >= portLostAt_ + waitMs_ * kMs) {
            outcome_.facts.dropOutlastedWait = true;
        }
        apply(engine_->portBack(now_));
    }

    void arrived(int chunk) {
        const std::string &bytes = chunks_[static_cast<std::size_t>(chunk)].bytes;
        traffic_.arrived(now_, !modbus_ && bytes.find_first_not_of("\r\n") == std::string::npos);
    }

    // The flasher reads as bytes come: everything that reaches the host at one moment is one read.
    void toHost(int chunk) {
        std::vector<int> chunks{chunk};
        if (window()) {
            waitingChunks_.push_back(chunk);
            return;
        }
        while (!events_.empty() && events_.top().at == now_ && events_.top().kind == Kind::ToHost) {
            --inFlight_;
            if (events_.top().tag == epoch_) {
                arrived(events_.top().index);
                chunks.push_back(events_.top().index);
            }
            events_.pop();
        }
        const std::string bytes = takeRead(chunks);
        apply(engine_->received(bytes, now_));
    }

    // The window reads at its poll all that came since the last one, then looks at its timer.
    void tick() {
        const std::uint64_t generation = pollGeneration_;
        if (!waitingChunks_.empty()) {
            const std::vector<int> chunks = std::move(waitingChunks_);
            waitingChunks_.clear();
            const std::string bytes = takeRead(chunks);
            show(job_.received(bytes, now_));
        }
        if (!done() && alarm_ && now_ >= *alarm_) {
            alarm_.reset();
            note("timer");
            show(job_.timerFired(now_));
        }
        if (done()) {
            return;
        }
        if (!alarm_ && waitingChunks_.empty() && inFlight_ == 0) {
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
                      !modbus_ && bytes.find_first_not_of("\r\n") == std::string::npos);
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
            boardFree_ = std::max(boardFree_, now_) + processing();
            answer(exchange, write);
            if (faults_.resetAtLine > 0 && exchange.downloadLine &&
                downloadLinesTaken_ == static_cast<std::size_t>(faults_.resetAtLine)) {
                drop();
                return;
            }
        }
    }

    Micros processing() { return boardMicros_ * rng_.between(85, 115) / 100; }

    // A board that sends its last answer again before it answers the next command.
    void echo(int write) {
        const bool pairCopy = faults_.pair == Pair::LostError && faults_.pairEcho &&
                              pairCopyDue(write, pairErrorLine());
        if (lastAnswer_.empty() || (!pairCopy && (!disturbanceAllowed() ||
                                                  !rng_.chance(disturbChance(faults_.dupEcho))))) {
            return;
        }
        pairCopied_ = pairCopied_ || pairCopy;
        useDisturbance();
        noteFault(kDuplicate);
        Delivery copy(!modbus_);
        copy.add(lastAnswer_, item(ItemKind::Duplicate, lastKeyword_, lastWrite_),
                 keywordOffset(lastAnswer_));
        deliver(std::max(boardFree_, now_) + static_cast<Micros>(copy.bytes.size()) * byteMicros_,
                std::move(copy), true);
    }

    // How likely a disturbance is: calm schedules draw their one in the first verify pass, pairs
    // theirs in verify passes.
    double disturbChance(double rate) const {
        if (calm()) {
            return faults_.calmDisturbance && verifyStarts_ == 1 ? 0.05 : 0.0;
        }
        const Write *last = traffic_.lastWrite();
        const bool verifying = last != nullptr && last->kind == CommandKind::Verify;
        return faults_.pair == Pair::None || verifying ? rate : 0.0;
    }

    // Whether a stray, duplicate, noise line or garbled answer may come now: calm schedules allow
    // one, in the first verify pass.
    bool disturbanceAllowed() const {
        if (!calm()) {
            return true;
        }
        const Write *last = traffic_.lastWrite();
        return faults_.calmDisturbance && verifyStarts_ == 1 && !calmDisturbed_ &&
               last != nullptr && last->kind == CommandKind::Verify;
    }
    void useDisturbance() { calmDisturbed_ = calmDisturbed_ || calm(); }

    bool allowed() const { return !calmOver(); }

    int item(ItemKind kind, std::string keyword, int answers) {
        return traffic_.item(kind, std::move(keyword), answers, static_cast<int>(epoch_));
    }

    // Where the answer's keyword (plain) or frame (Modbus) begins in its bytes.
    std::size_t keywordOffset(const std::string &bytes) const {
        if (modbus_) {
            return 0;
        }
        for (const char *keyword : {"VER=", "ERROR", "DOWNLOAD", "OK"}) {
            const std::size_t at = bytes.find(keyword);
            if (at != std::string::npos) {
                return at;
            }
        }
        return 0;
    }

    std::string framed(const std::string &text) const {
        return modbus_ ? withCrc(std::string(1, static_cast<char>(address_)) + "B" + text) : text;
    }

    std::string answerText(const std::string &bytes) const {
        return modbus_ ? bytes.substr(2, bytes.size() - 4) : bytes;
    }

    void answer(const simboard::Exchange &exchange, int write) {
        std::string bytes = exchange.answer;
        std::string keyword = keywordOf(answerText(bytes));
        const bool verifyLine = exchange.command.rfind("BOOT#", 0) == 0;
        const bool lineCommand = exchange.command.rfind("BOOT", 0) == 0 &&
                                 (verifyLine || exchange.command.rfind("BOOT:", 0) == 0);
        const bool firstError =
            keyword == "ERROR" && verifyLine && !pairErrorMet_ && faults_.pair != Pair::None;
        pairErrorMet_ = pairErrorMet_ || firstError;
        if (lineCommand && allowed() && !firstError && rng_.chance(faults_.error)) {
            bytes = framed("ERROR\r\n");
            keyword = "ERROR";
            noteFault(kError);
        }
        Micros at = boardFree_ + static_cast<Micros>(bytes.size()) * byteMicros_;
        if (firstError && faults_.pair == Pair::SlowEnd &&
            exchange.command.find("00000001FF") != std::string::npos) {
            at = std::max(at, slowEnd(traffic_.writes()[static_cast<std::size_t>(write)].at));
        }
        if ((firstError && (faults_.pair == Pair::LostError || faults_.pair == Pair::StrayOk)) ||
            (allowed() && lossAllowed(verifyLine) && rng_.chance(faults_.lose))) {
            const int lost = item(ItemKind::Answer, keyword, write);
            traffic_.markLost(lost);
            noteFault(kLose);
            remember(bytes, keyword, write);
            note("answer lost: " + printable(bytes));
            if (firstError && faults_.pair == Pair::StrayOk) {
                strayAt(at, "OK");
            }
            return;
        }
        remember(bytes, keyword, write);
        Delivery delivery(!modbus_);
        if (allowed() && rng_.chance(faults_.late)) {
            at += timeoutMs_ * kMs + rng_.between(1, timeoutMs_ / 2 + 1) * kMs;
            noteFault(kLate);
        }
        addNoise(delivery);
        const bool garble = (firstError && faults_.pair == Pair::GarbleEcho) ||
                            (disturbanceAllowed() && allowed() &&
                             rng_.chance(calm() ? disturbChance(0) : faults_.garble));
        if (garble) {
            useDisturbance();
            noteFault(kGarble);
            const std::string text = garbled(bytes);
            delivery.add(text, item(ItemKind::Garbled, "", write), 0);
        } else {
            delivery.add(bytes, item(ItemKind::Answer, keyword, write), keywordOffset(bytes));
        }
        if (modbus_ && allowed() && rng_.chance(faults_.foreign)) {
            noteFault(kForeign);
            const char *texts[] = {"OK\r\n", "DOWNLOAD\r\n", "ERROR\r\n", "VER=9.9\r\n"};
            Delivery other(!modbus_);
            other.bytes = withCrc(std::string(1, static_cast<char>(address_ % 247 + 1)) + "B" +
                                  texts[rng_.below(4)]);
            deliver(at, std::move(other), true);
        }
        const bool pairCopy = faults_.pair == Pair::LostError && !faults_.pairEcho &&
                              pairCopyDue(write, pairErrorLine() - 1);
        pairCopied_ = pairCopied_ || pairCopy;
        if (pairCopy || (disturbanceAllowed() && rng_.chance(disturbChance(faults_.dupBack)))) {
            useDisturbance();
            noteFault(kDuplicate);
            delivery.add(bytes, item(ItemKind::Duplicate, keyword, write), keywordOffset(bytes));
        }
        deliver(at, std::move(delivery), true);
        if (firstError && faults_.pair == Pair::GarbleEcho && !previousAnswer_.empty()) {
            noteFault(kDuplicate);
            Delivery copy(!modbus_);
            copy.add(previousAnswer_, item(ItemKind::Duplicate, previousKeyword_, previousWrite_),
                     keywordOffset(previousAnswer_));
            deliver(at + rng_.between64(kMs, 3 * kMs), std::move(copy), true);
        }
        if (disturbanceAllowed() && rng_.chance(disturbChance(faults_.dupLater))) {
            useDisturbance();
            noteFault(kDuplicate);
            Delivery copy(!modbus_);
            copy.add(bytes, item(ItemKind::Duplicate, keyword, write), keywordOffset(bytes));
            deliver(at + rng_.between64(kMs, 3 * answerMicros()), std::move(copy), false);
        }
    }

    // When the board's verdict at the end record written at `written` comes, late: from half its
    // usual answer time to four times it, within or past the quiet of twice the slowest answer
    // that the host keeps after the stray "DOWNLOAD".
    Micros slowEnd(Micros written) {
        noteFault(kSlowEnd);
        return written + rng_.between64(boardMicros_ / 2, 4 * boardMicros_);
    }

    bool lossAllowed(bool verifyLine) const {
        return !(calm() && faults_.calmDisturbance && verifyLine);
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
        if (!modbus_) {
            return noise(rng_, 0) + "\r\n";
        }
        const char address = static_cast<char>(address_);
        if (rng_.chance(0.5)) {
            // The marker is hit: the host sees a frame from the board that it cannot read.
            return withCrc(std::string(1, address) + "b" + answerText(bytes));
        }
        return withCrc(std::string(1, address) + "B" + noise(rng_, address) + "\r\n");
    }

    void addNoise(Delivery &delivery) {
        if (!allowed() || !rng_.chance(faults_.noise)) {
            return;
        }
        const std::string junk = noise(rng_, static_cast<char>(address_));
        if (!modbus_ && disturbanceAllowed() && rng_.chance(0.3)) {
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
        const std::string bytes = framed(keyword + "\r\n");
        Delivery delivery(!modbus_);
        delivery.add(bytes, item(ItemKind::Stray, keyword, -1), 0);
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
        if (faults_.adapterMs > 0) {
            noteFault(kAdapter);
        }
        if (allowed() && rng_.chance(faults_.split) && delivery.bytes.size() > 1) {
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
        if (faults_.adapterMs <= 0) {
            return at;
        }
        const Micros tick = faults_.adapterMs * kMs;
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
        if (faults_.swap) {
            swapBoard();
        } else {
            // A board loses only records it acknowledged since its last end record.
            const std::size_t lost = std::min<std::size_t>(
                static_cast<std::size_t>(faults_.lostRecords), downloadLinesTaken_);
            if (lost > 0) {
                noteFault(kLostRecords);
            }
            outcome_.facts.mostRecordsLost = std::max(outcome_.facts.mostRecordsLost, lost);
            board_->reboot(lost);
        }
        downloadLinesTaken_ = 0;
        const Micros away =
            (faults_.longDrop && rng_.chance(0.5) ? waitMs_ + rng_.between(1, 500)
                                                  : rng_.between(10, waitMs_ / 2 + 10)) *
            kMs;
        const Micros lost = rng_.between(0, 20) * kMs;
        note("drop for " + std::to_string(away / kMs) + " ms");
        // The flasher looks for the port every kReopenUs from the moment it lost it.
        const Micros reopened =
            lost + std::max<Micros>(1, (away - lost + kReopenUs - 1) / kReopenUs) * kReopenUs;
        // A drop while the flasher still waits for the port makes one outage with the last.
        if (reopened >= lost + waitMs_ * kMs || awaiting_) {
            outcome_.facts.dropOutlastedWait = true;
        }
        schedule(now_ + lost, Kind::Lost, 0);
        schedule(now_ + away, Kind::Back, 0);
    }

    void swapBoard() {
        const std::string version = calm() || rng_.chance(0.5) ? nextVersion() : "4.1";
        noteFault(kSwap);
        if (verifyOnly_ || traffic_.versionReached("VER=" + version)) {
            // A blank board that a verify must refuse, or one the host cannot tell from a board it
            // heard before.
            outcome_.facts.boardCanHold = false;
        }
        simboard::BootloaderOptions options;
        options.modbus = modbus_;
        options.address = address_;
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
        facts.lateAnswer = traffic_.lateAnswer(timeoutMs_ * kMs, quenta::kProbeIntervalMs * kMs);
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
            }
            const bool missed =
                item.lost || (item.kind == ItemKind::Garbled && item.beginRead.has_value());
            if (missed && item.answers >= 0 &&
                traffic_.writes()[static_cast<std::size_t>(item.answers)].kind ==
                    CommandKind::Verify) {
                facts.lossInVerify = true;
            }
        }
        facts.errors = traffic_.errors(facts.readsAtEnd);
        TimingRule rule;
        rule.soonerFactor = quenta::kSoonerFactor;
        rule.slackUs = quenta::kTimingSlackUs;
        rule.timedAnswers = quenta::kTimedAnswers;
        rule.settleUs = quenta::kSettleMs * kMs;
        rule.timeoutUs = window() ? 0 : timeoutMs_ * kMs;
        facts.promise = traffic_.beyondThePromise(rule);
    }

    void note(const std::string &what) {
        if (trace_) {
            std::printf("%10.3f ms  %s\n", static_cast<double>(now_) / kMs, what.c_str());
        }
    }

    Rng rng_;
    bool trace_;
    Policy policy_ = Policy::Flasher;
    Profile profile_ = Profile::Clean;
    Firmware firmware_;
    std::vector<std::string> records_;
    Faults faults_;
    bool modbus_ = false;
    std::uint8_t address_ = 1;
    bool verifyOnly_ = false;
    int timeoutMs_ = 100;
    int retries_ = 0;
    int waitMs_ = 1000;
    Micros byteMicros_ = 87;
    Micros boardMicros_ = 1000;
    Micros bound_ = 0;
    std::unique_ptr<simboard::Bootloader> board_;
    std::vector<std::unique_ptr<simboard::Bootloader>> retired_;
    int swaps_ = 0;
    const simboard::Bootloader *heard_ = nullptr;
    std::unique_ptr<BoardEngine> engine_;
    quenta::FirmwareJob job_;
    std::optional<Micros> alarm_;
    std::vector<int> waitingChunks_;
    std::uint64_t pollGeneration_ = 0;
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
    int verifyStarts_ = 0;
    bool calmDisturbed_ = false;
    bool pairErrorMet_ = false;
    bool pairStray_ = false;
    bool pairCorrupted_ = false;
    std::size_t pairLine_ = 0; // the record a pair's board differs in
    bool pairCopied_ = false;
    bool reportsAtEnd_ = false;
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
