#include "simulation/JobWorld.h"

#include "simboard/Bootloader.h"
#include "simboard/Crc.h"

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

using Micros = std::int64_t;
constexpr Micros kMs = 1000;

// splitmix64: small, fast and the same everywhere.
struct Rng {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    int between(int low, int high) { return low + below(high - low + 1); }
    bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }
};

std::string hex2(unsigned value) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

// A HEX record written out, checksum and all.
std::string record(unsigned type, unsigned offset, const std::vector<std::uint8_t> &data) {
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + type;
    std::string text = ":" + hex2(static_cast<unsigned>(data.size())) + hex2(offset >> 8) +
                       hex2(offset & 0xFF) + hex2(type);
    for (const std::uint8_t byte : data) {
        text += hex2(byte);
        sum += byte;
    }
    return text + hex2((0x100 - (sum & 0xFF)) & 0xFF);
}

struct Firmware {
    std::vector<std::string> records;
    simboard::Memory image;
};

// A small firmware: data records at scattered places, some behind extended address records
// (linear and segment), one crossing into the next 64 KiB, and the end record.
Firmware makeFirmware(Rng &rng) {
    Firmware firmware;
    const int count = rng.between(2, 16);
    for (int i = 0; i < count; ++i) {
        if (rng.chance(0.15)) {
            const unsigned upper = static_cast<unsigned>(rng.between(0, 2));
            firmware.records.push_back(
                rng.chance(0.7) ? record(0x04, 0, {0, static_cast<std::uint8_t>(upper)})
                                : record(0x02, 0, {static_cast<std::uint8_t>(upper << 4), 0}));
        }
        std::vector<std::uint8_t> data(static_cast<std::size_t>(rng.between(1, 16)));
        for (std::uint8_t &byte : data) {
            byte = static_cast<std::uint8_t>(rng.below(256));
        }
        const unsigned offset =
            rng.chance(0.1) ? 0xFFF8u : static_cast<unsigned>(rng.below(64)) * 16u;
        firmware.records.push_back(record(0x00, offset, data));
    }
    firmware.records.push_back(":00000001FF");
    std::string text;
    for (const std::string &line : firmware.records) {
        text += line + "\r\n";
    }
    firmware.image = simboard::readHexImage(text).memory;
    return firmware;
}

// What can go wrong in one schedule; each is drawn per seed.
struct Faults {
    double lose = 0;       // an answer is lost on the line
    double late = 0;       // an answer comes just past the timeout, or up to half a timeout more
    double error = 0;      // an answer is "ERROR" instead
    double noise = 0;      // noise before an answer (plain: sometimes a line of its own)
    double split = 0;      // an answer arrives in two pieces
    double foreign = 0;    // Modbus: a frame from another board arrives
    double corrupt = 0;    // a download line reaches the board changed, with a valid checksum
    int adapterMs = 0;     // bytes for the host are handed over at ticks of this many ms
    int drops = 0;         // port drops at random times
    int resetAtLine = 0;   // the board drops the port whenever it takes this download line
    int lostRecords = 0;   // a board that comes back has forgotten this many records
    bool swap = false;     // after a drop another board comes back (blank, maybe another version)
    bool longDrop = false; // a drop may outlast the wait
};

Faults drawFaults(Rng &rng) {
    Faults f;
    auto maybe = [&](double p, double rate) { return rng.chance(p) ? rate : 0.0; };
    f.lose = maybe(0.3, 0.05);
    f.late = maybe(0.3, 0.05);
    f.error = maybe(0.15, 0.02);
    f.noise = maybe(0.2, 0.1);
    f.split = maybe(0.3, 0.3);
    f.foreign = maybe(0.2, 0.05);
    f.corrupt = maybe(0.2, 0.05);
    f.adapterMs = rng.chance(0.3) ? (rng.chance(0.5) ? 16 : 1) : 0;
    f.drops = rng.chance(0.3) ? rng.between(1, 3) : 0;
    f.resetAtLine = rng.chance(0.05) ? rng.between(1, 6) : 0;
    f.lostRecords = rng.between(0, 10);
    f.swap = rng.chance(0.2);
    f.longDrop = rng.chance(0.1);
    return f;
}

// The noise of a line: no line end and no letter of an answer keyword.
std::string noise(Rng &rng) {
    static const char alphabet[] = "bcghijpqstuxyz0123456789#$%&*+-./<>?@[]^_{}|~";
    std::string bytes;
    const int length = rng.between(1, 6);
    for (int i = 0; i < length; ++i) {
        bytes += alphabet[rng.below(static_cast<int>(sizeof alphabet) - 1)];
    }
    return bytes;
}

std::string modbusAnswer(std::uint8_t address, const std::string &text) {
    std::string frame = std::string(1, static_cast<char>(address)) + "B" + text;
    const std::uint16_t crc = simboard::crc16(frame);
    frame += static_cast<char>(crc & 0xFF);
    frame += static_cast<char>(crc >> 8);
    return frame;
}

class Simulation {
public:
    Simulation(std::uint64_t seed, bool trace) : rng_{seed}, trace_(trace) {}

    Outcome run() {
        setUp();
        apply(engine_->start(now_));
        while (!engine_->done() && !events_.empty()) {
            const Event event = events_.top();
            events_.pop();
            now_ = event.at;
            if (now_ > bound_) {
                outcome_.overran = true;
                break;
            }
            handle(event);
        }
        outcome_.end = end_;
        outcome_.image = firmware_.image;
        outcome_.lines = firmware_.records.size();
        outcome_.verifyOnly = verifyOnly_;
        outcome_.boundMs = bound_ / kMs;
        if (heard_ != nullptr) {
            outcome_.held = heard_->memory();
        }
        return outcome_;
    }

private:
    enum class Kind { Timer, ToBoard, ToHost, Drop, Back, Poll, Lost };
    struct Event {
        Micros at;
        std::uint64_t order;
        Kind kind;
        std::uint64_t tag; // timer generation or port epoch
        std::string bytes;
        bool operator<(const Event &other) const {
            return at != other.at ? at > other.at : order > other.order;
        }
    };

    void schedule(Micros at, Kind kind, std::uint64_t tag, std::string bytes = {}) {
        events_.push(Event{at, order_++, kind, tag, std::move(bytes)});
    }

    void setUp() {
        firmware_ = makeFirmware(rng_);
        faults_ = drawFaults(rng_);
        modbus_ = rng_.chance(0.4);
        address_ = static_cast<std::uint8_t>(rng_.between(1, 247));
        verifyOnly_ = rng_.chance(0.35);
        timeoutMs_ = rng_.between(30, 400);
        byteMicros_ = 10'000'000 / (rng_.chance(0.5) ? 115200 : 19200);
        simboard::BootloaderOptions options;
        options.modbus = modbus_;
        options.address = address_;
        options.version = "4.1";
        options.memory = startingMemory();
        options.verifyReportsAtEnd = rng_.chance(0.25);
        board_ = std::make_unique<simboard::Bootloader>(options);
        board_->rememberRecords(16);
        BoardTask task;
        task.kind = verifyOnly_ ? JobKind::Verify : JobKind::Flash;
        task.records = &firmware_.records;
        if (modbus_) {
            task.address = address_;
        }
        task.patience = {timeoutMs_, rng_.between(0, 3), rng_.between(200, 3000)};
        waitMs_ = task.patience.waitMs;
        engine_ = std::make_unique<BoardEngine>(task);
        const Micros lines = static_cast<Micros>(firmware_.records.size());
        const Micros perLine =
            4 * static_cast<Micros>(timeoutMs_) * kMs * (task.patience.retries + 1);
        bound_ = (quenta::kMaxResumes + 2) * (static_cast<Micros>(waitMs_) * kMs * 3 +
                                              (quenta::kMaxVerifyPasses + 2) * lines * perLine);
        for (int i = 0; i < faults_.drops; ++i) {
            schedule(rng_.between(1, 40 * static_cast<int>(lines) + 200) * kMs, Kind::Drop, 0);
        }
    }

    // What the board holds before the job: nothing, something else, or (for a verify) the file
    // itself, maybe with a few bytes changed.
    simboard::Memory startingMemory() {
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

    void handle(const Event &event) {
        switch (event.kind) {
        case Kind::Timer:
            if (event.tag == timerGeneration_) {
                note("timer");
                apply(engine_->timerFired(now_));
            }
            break;
        case Kind::ToBoard:
            if (event.tag == epoch_ && portUp_) {
                toBoard(event.bytes);
            }
            break;
        case Kind::ToHost:
            if (event.tag == epoch_ && portUp_) {
                toHost(event.bytes);
            }
            break;
        case Kind::Drop:
            drop();
            break;
        case Kind::Lost:
            note("port lost");
            apply(engine_->portLost("the device went away", now_));
            break;
        case Kind::Back:
            portUp_ = true;
            note("port back");
            break;
        case Kind::Poll:
            if (awaiting_ && portUp_) {
                awaiting_ = false;
                apply(engine_->portBack(now_));
            } else if (awaiting_) {
                schedule(now_ + 50 * kMs, Kind::Poll, 0);
            }
            break;
        }
    }

    // Everything that reaches the host at this moment is one read.
    void toHost(std::string bytes) {
        while (!events_.empty() && events_.top().at == now_ && events_.top().kind == Kind::ToHost) {
            if (events_.top().tag == epoch_) {
                bytes += events_.top().bytes;
            }
            events_.pop();
        }
        note("read " + printable(bytes));
        heard_ = board_.get();
        apply(engine_->received(bytes, now_));
    }

    void apply(Step step) {
        for (std::string &bytes : step.send) {
            send(std::move(bytes));
        }
        if (step.timerMs) {
            ++timerGeneration_;
            if (*step.timerMs > 0) {
                schedule(now_ + *step.timerMs * kMs, Kind::Timer, timerGeneration_);
            }
        }
        if (step.awaitPort) {
            awaiting_ = true;
            schedule(now_ + 50 * kMs, Kind::Poll, 0);
        }
        if (step.end) {
            end_ = step.end;
            note("end " + std::string(quenta::resultName(step.end->result)) + ": " +
                 step.end->message);
        }
    }

    std::string commandText(const std::string &bytes) const {
        return modbus_ && bytes.size() >= 3 ? bytes.substr(1, bytes.size() - 3) : bytes;
    }

    void send(std::string bytes) {
        std::string text = commandText(bytes);
        note("send " + printable(bytes));
        if (verifyOnly_ && text.rfind("BOOT:", 0) == 0 && outcome_.downloadInVerify.empty()) {
            outcome_.downloadInVerify = printable(text);
        }
        if (!portUp_) {
            return;
        }
        if (text.rfind("BOOT:", 0) == 0 && rng_.chance(faults_.corrupt)) {
            text = corrupted(text);
            bytes = modbus_ ? frameCommand(text) : text;
            note("corrupted on the way: " + printable(text));
        }
        wireFree_ = std::max(wireFree_, now_) + static_cast<Micros>(bytes.size()) * byteMicros_;
        schedule(wireFree_, Kind::ToBoard, epoch_, bytes);
    }

    std::string frameCommand(const std::string &text) const {
        std::string frame = std::string(1, static_cast<char>(address_)) + text;
        const std::uint16_t crc = simboard::crc16(frame);
        frame += static_cast<char>(crc & 0xFF);
        frame += static_cast<char>(crc >> 8);
        return frame;
    }

    // A download line with one data byte changed and its checksum made good again: the board
    // takes it and writes the wrong byte.
    std::string corrupted(const std::string &text) {
        const std::size_t digits = text.find(':') + 1;
        const std::size_t end = text.find('\r');
        const std::string body = text.substr(digits, end - digits);
        const unsigned count = static_cast<unsigned>(std::stoul(body.substr(0, 2), nullptr, 16));
        if (count == 0 || std::stoul(body.substr(6, 2), nullptr, 16) != 0) {
            return text;
        }
        std::vector<std::uint8_t> data;
        for (unsigned i = 0; i < count; ++i) {
            data.push_back(
                static_cast<std::uint8_t>(std::stoul(body.substr(8 + 2 * i, 2), nullptr, 16)));
        }
        data[static_cast<std::size_t>(rng_.below(static_cast<int>(count)))] ^= 0x5A;
        const unsigned offset = static_cast<unsigned>(std::stoul(body.substr(2, 4), nullptr, 16));
        return text.substr(0, digits - 1) + record(0, offset, data) + text.substr(end);
    }

    void toBoard(const std::string &bytes) {
        for (const simboard::Exchange &exchange : board_->receive(bytes)) {
            // A board may lose records it acknowledged but had not yet written; what it has read
            // back for a verify line is written.
            verifiedSinceWrite_ = !exchange.downloadLine &&
                                  (verifiedSinceWrite_ || exchange.command.rfind("BOOT#", 0) == 0);
            if (exchange.downloadLine) {
                ++downloadLinesTaken_;
                if (exchange.command.rfind("BOOT::00000001FF", 0) == 0) {
                    downloadLinesTaken_ = 0;
                }
            }
            boardFree_ = std::max(boardFree_, now_) + rng_.between(200, 3000);
            answer(exchange.answer);
            if (faults_.resetAtLine > 0 && exchange.downloadLine &&
                downloadLinesTaken_ == faults_.resetAtLine) {
                drop();
                return;
            }
        }
    }

    void answer(std::string bytes) {
        if (rng_.chance(faults_.lose)) {
            note("answer lost: " + printable(bytes));
            return;
        }
        if (rng_.chance(faults_.error)) {
            bytes = modbus_ ? modbusAnswer(address_, "ERROR\r\n") : "ERROR\r\n";
        }
        Micros at = boardFree_ + static_cast<Micros>(bytes.size()) * byteMicros_;
        if (rng_.chance(faults_.late)) {
            at += timeoutMs_ * kMs + rng_.between(1, timeoutMs_ / 2 + 1) * kMs;
        }
        if (rng_.chance(faults_.noise)) {
            const std::string junk = noise(rng_);
            bytes = (!modbus_ && rng_.chance(0.3) ? junk + "\r\n" : junk) + bytes;
        }
        if (modbus_ && rng_.chance(faults_.foreign)) {
            const char *texts[] = {"OK\r\n", "DOWNLOAD\r\n", "ERROR\r\n", "VER=9.9\r\n"};
            deliver(at, modbusAnswer(static_cast<std::uint8_t>(address_ % 247 + 1),
                                     texts[rng_.below(4)]));
        }
        if (rng_.chance(faults_.split) && bytes.size() > 1) {
            const std::size_t cut =
                static_cast<std::size_t>(rng_.between(1, static_cast<int>(bytes.size()) - 1));
            deliver(at, bytes.substr(0, cut));
            deliver(at + rng_.between(1, 30) * kMs, bytes.substr(cut));
            return;
        }
        deliver(at, std::move(bytes));
    }

    // The line is first in, first out; an adapter hands bytes over at its ticks.
    void deliver(Micros at, std::string bytes) {
        at = std::max(at, lastDelivery_);
        if (faults_.adapterMs > 0) {
            const Micros tick = faults_.adapterMs * kMs;
            at = (at + tick - 1) / tick * tick;
        }
        lastDelivery_ = at;
        schedule(at, Kind::ToHost, epoch_, std::move(bytes));
    }

    void drop() {
        if (!portUp_ || engine_->done()) {
            return;
        }
        ++epoch_;
        portUp_ = false;
        wireFree_ = boardFree_ = lastDelivery_ = now_;
        downloadLinesTaken_ = 0;
        if (faults_.swap) {
            const std::string version = rng_.chance(0.5) ? "4.1" : "4.2";
            simboard::BootloaderOptions options;
            options.modbus = modbus_;
            options.address = address_;
            options.verifyReportsAtEnd = rng_.chance(0.5);
            retired_.push_back(std::move(board_));
            board_ = std::make_unique<simboard::Bootloader>(simboard::blankBoard(options, version));
            board_->rememberRecords(16);
            note("another board comes back, version " + version);
        } else {
            board_->reboot(verifiedSinceWrite_ ? 0 : static_cast<std::size_t>(faults_.lostRecords));
        }
        const int away = faults_.longDrop && rng_.chance(0.5) ? waitMs_ + rng_.between(1, 500)
                                                              : rng_.between(10, waitMs_ / 2 + 10);
        note("drop for " + std::to_string(away) + " ms");
        schedule(now_ + rng_.between(0, 20) * kMs, Kind::Lost, 0);
        schedule(now_ + away * kMs, Kind::Back, 0);
    }

    static std::string printable(const std::string &bytes) {
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

    void note(const std::string &what) {
        if (trace_) {
            std::printf("%10.3f ms  %s\n", static_cast<double>(now_) / kMs, what.c_str());
        }
    }

    Rng rng_;
    bool trace_;
    Firmware firmware_;
    Faults faults_;
    bool modbus_ = false;
    std::uint8_t address_ = 1;
    bool verifyOnly_ = false;
    int timeoutMs_ = 100;
    int waitMs_ = 1000;
    Micros byteMicros_ = 87;
    Micros bound_ = 0;
    std::unique_ptr<simboard::Bootloader> board_;
    std::vector<std::unique_ptr<simboard::Bootloader>> retired_;
    const simboard::Bootloader *heard_ = nullptr;
    std::unique_ptr<BoardEngine> engine_;
    std::priority_queue<Event> events_;
    std::uint64_t order_ = 0;
    std::uint64_t timerGeneration_ = 0;
    std::uint64_t epoch_ = 0;
    bool portUp_ = true;
    bool awaiting_ = false;
    Micros now_ = 0;
    Micros wireFree_ = 0;
    Micros boardFree_ = 0;
    Micros lastDelivery_ = 0;
    int downloadLinesTaken_ = 0;
    bool verifiedSinceWrite_ = false;
    std::optional<quenta::JobOutcome> end_;
    Outcome outcome_;
};

} // namespace

Outcome runJob(std::uint64_t seed, bool trace) {
    return Simulation(seed, trace).run();
}

} // namespace simulation
