#include "simulation/Schedule.h"

#include "pure/AnswerReader.h"
#include "pure/engine/BoardEngine.h"

#include <algorithm>
#include <iterator>

namespace simulation {
namespace {

constexpr Micros kMs = 1000;

Profile drawProfile(Rng &rng, Policy policy) {
    const int pick = rng.below(100);
    if (pick < (policy == Policy::Window ? 12 : 8)) {
        return Profile::Clean;
    }
    if (pick < 20) {
        return Profile::Paced;
    }
    if (pick < 48) {
        return policy == Policy::Window ? Profile::Gentle : Profile::Calm;
    }
    return pick < 85 ? Profile::Wild : Profile::Pair;
}

Faults drawFaults(Rng &rng, const Schedule &s) {
    Faults f;
    auto maybe = [&](double p, double rate) { return rng.chance(p) ? rate : 0.0; };
    const auto adapter = [&](double p) { return rng.chance(p) ? (rng.chance(0.5) ? 16 : 1) : 0; };
    switch (s.profile) {
    case Profile::Clean:
        break;
    case Profile::Paced:
        f.adapterMs = adapter(0.3);
        break;
    case Profile::Gentle:
        f.split = maybe(0.5, 0.3);
        f.foreign = s.looseFrames ? 0 : maybe(0.4, 0.1);
        f.adapterMs = adapter(0.4);
        break;
    case Profile::Calm:
        f.lose = maybe(0.4, 0.05);
        f.noise = maybe(0.2, 0.1);
        f.split = maybe(0.3, 0.3);
        f.foreign = maybe(0.2, 0.05);
        f.adapterMs = adapter(0.3);
        f.drops = rng.chance(0.4) ? rng.between(1, 3) : 0;
        f.lostRecords = rng.chance(0.5) ? 8 : rng.between(0, 8);
        f.swap = !s.verifyOnly && rng.chance(0.15);
        f.calmDisturbance = rng.chance(0.5);
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
        f.strays = rng.chance(0.2) ? rng.between(1, 3) : 0;
        f.adapterMs = adapter(0.3);
        f.drops = rng.chance(0.3) ? rng.between(1, 3) : 0;
        f.resetAtLine = rng.chance(0.05) ? rng.between(1, 6) : 0;
        f.lostRecords = rng.between(0, 10);
        f.swap = rng.chance(0.2);
        f.longDrop = rng.chance(0.1);
        break;
    case Profile::Pair:
        f.pair = static_cast<Pair>(rng.between(1, 4));
        f.split = maybe(0.2, 0.3);
        f.adapterMs = adapter(0.2);
        f.pairEcho = rng.chance(0.5);
        f.pairAgain = rng.chance(0.5) ? 0.5 : 0.0;
        break;
    }
    if (s.policy == Policy::Window) {
        // The window has no resume: a lost port only stops its job.
        f.drops = f.resetAtLine = 0;
        f.swap = f.longDrop = false;
    }
    return f;
}

// The slowest a board of this pace takes for a command, beyond the wire.
Micros slowestProcessing(const Schedule &s) {
    switch (s.pace) {
    case Pace::SlowFirst:
        return 70 * kMs;
    case Pace::SlowPage:
        return std::max<Micros>(40 * kMs, s.boardMicros * 115 / 100);
    case Pace::Jitter:
        return 30 * kMs;
    case Pace::Even:
    case Pace::Eager:
        break;
    }
    return s.boardMicros * 115 / 100;
}

// The board's pace, and a timeout that fits it (most of the time; always for a good board).
void drawTiming(Rng &rng, Schedule &s) {
    const bool slow =
        s.faults.pair == Pair::SlowEnd ||
        (s.profile != Profile::Paced && rng.chance(s.faults.pair == Pair::None ? 0.2 : 0.5));
    std::size_t longest = 0;
    for (const std::string &record : s.firmware.records) {
        longest = std::max(longest, record.size() + 6 + (s.modbus ? 3 : 0));
    }
    const Micros wire = static_cast<Micros>(longest + 12) * s.byteMicros;
    if (slow) {
        s.timeoutMs = rng.between(100, 400);
        s.boardMicros = rng.between64(20 * kMs, std::min<Micros>(s.timeoutMs * 400, 150 * kMs));
        return;
    }
    s.boardMicros = s.pace == Pace::Eager ? 100 : rng.between64(200, 3000);
    const Micros roundTrip = wire + slowestProcessing(s) + s.faults.adapterMs * kMs +
                             (s.looseFrames ? quenta::kLooseAnswerQuietMs * kMs : 0);
    const int least = static_cast<int>(std::max<Micros>(30, 2 * roundTrip / kMs + 1));
    if (s.profile == Profile::Paced) {
        s.timeoutMs = rng.between(least, least + 400);
        return;
    }
    s.timeoutMs = rng.chance(0.9) && least < 400 ? rng.between(least, 400) : rng.between(30, 400);
}

// A data record in the later half of the file (the index of the first when there is none), so
// that the verify has passed lines before it.
std::size_t laterDataRecord(Rng &rng, const std::vector<std::string> &records) {
    std::vector<std::size_t> later;
    for (std::size_t i = records.size() / 2; i + 1 < records.size(); ++i) {
        if (records[i].compare(7, 2, "00") == 0) {
            later.push_back(i);
        }
    }
    if (later.empty()) {
        return 0;
    }
    return later[static_cast<std::size_t>(rng.below(static_cast<int>(later.size())))];
}

// What the board holds before the job: nothing, something else, or (for a verify) the file
// itself, maybe with a few bytes changed.
simboard::Memory startingMemory(Rng &rng, const Schedule &s) {
    const simboard::Memory &image = s.firmware.image;
    if (s.verifyOnly && s.profile != Profile::Wild) {
        simboard::Memory memory = image;
        if (s.profile == Profile::Pair) {
            const auto places = placementOf(s.firmware.records, s.pairLine);
            memory[places[static_cast<std::size_t>(rng.below(static_cast<int>(places.size())))]] ^=
                static_cast<std::uint8_t>(1 << rng.below(8));
        }
        return memory;
    }
    simboard::Memory memory;
    const int pick = rng.below(4);
    if (pick == 0) {
        return memory;
    }
    memory = image;
    if (pick == 1 || !s.verifyOnly) {
        for (auto &[address, byte] : memory) {
            if (rng.chance(0.3)) {
                byte = static_cast<std::uint8_t>(rng.below(256));
            }
        }
    } else if (pick == 2) {
        auto it = memory.begin();
        std::advance(it, rng.below(static_cast<int>(memory.size())));
        it->second ^= static_cast<std::uint8_t>(1 << rng.below(8));
    }
    return memory;
}

const char *profileName(Profile profile) {
    switch (profile) {
    case Profile::Clean:
        return "no fault";
    case Profile::Paced:
        return "a good board of uneven pace";
    case Profile::Calm:
        return "recoverable faults";
    case Profile::Gentle:
        return "harmless faults";
    case Profile::Wild:
        return "any faults";
    case Profile::Pair:
        return "a pair of faults";
    }
    return "";
}

const char *paceName(Pace pace) {
    switch (pace) {
    case Pace::Even:
        return "";
    case Pace::SlowFirst:
        return ", 70 ms for the first three data lines of a pass";
    case Pace::SlowPage:
        return ", 40 ms every fourth line";
    case Pace::Jitter:
        return ", 0 to 30 ms a line";
    case Pace::Eager:
        return ", answers before the line's LF";
    }
    return "";
}

} // namespace

Schedule drawSchedule(Rng &rng) {
    Schedule s;
    s.policy = rng.chance(0.3) ? Policy::Window : Policy::Flasher;
    s.profile = drawProfile(rng, s.policy);
    s.firmware = makeFirmware(rng, s.profile == Profile::Wild ? 0.1 : 0.0);
    s.modbus = rng.chance(0.4);
    s.address = static_cast<std::uint8_t>(rng.between(1, 247));
    s.verifyOnly = rng.chance(s.profile == Profile::Pair ? 0.6 : 0.35);
    s.byteMicros = 10'000'000 / (rng.chance(0.5) ? 115200 : 19200);
    if (s.profile == Profile::Paced) {
        s.pace = static_cast<Pace>(rng.between(1, 4));
    }
    s.looseFrames = s.modbus && (s.profile == Profile::Paced || s.profile == Profile::Gentle) &&
                    rng.chance(0.3);
    s.faults = drawFaults(rng, s);
    drawTiming(rng, s);
    s.pairLine = laterDataRecord(rng, s.firmware.records);
    s.memory = startingMemory(rng, s);
    s.reportsAtEnd =
        s.faults.pair == Pair::SlowEnd || rng.chance(s.faults.pair == Pair::None ? 0.25 : 0.5);
    s.boardCanHold = s.firmware.verifiable && (!s.verifyOnly || holds(s.memory, s.firmware.image));
    s.retries = rng.between(0, 3);
    s.waitMs = rng.between(200, 3000);
    s.verifyPasses = s.policy == Policy::Flasher && rng.chance(0.3) ? 2 : 1;
    return s;
}

std::string describe(const Schedule &s) {
    return std::string(s.policy == Policy::Window ? "window" : "flasher") + ", " +
           profileName(s.profile) +
           (s.faults.pair != Pair::None
                ? " " + std::to_string(static_cast<int>(s.faults.pair)) +
                      (s.faults.pairAgain > 0 ? " (again in later passes)" : "")
                : std::string()) +
           (s.modbus ? ", Modbus address " + std::to_string(s.address) : ", plain") +
           (s.looseFrames ? " (frames without CR LF)" : "") +
           (s.verifyOnly ? ", verify" : ", flash") + ", timeout " + std::to_string(s.timeoutMs) +
           " ms, " + std::to_string(s.retries) + " retries, wait " + std::to_string(s.waitMs) +
           " ms, " + std::to_string(s.verifyPasses) + " verify pass" +
           (s.verifyPasses > 1 ? "es" : "") + ", board answers in " +
           std::to_string(s.boardMicros) + " us" + paceName(s.pace) +
           (s.reportsAtEnd ? ", tells a difference at the end record" : "");
}

} // namespace simulation
