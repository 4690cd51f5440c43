// The board engine through seeded fault schedules on a virtual clock (see JobWorld.h), as the
// flasher runs it and as the window does. For every seed, judged from what the world knows
// happened, never from the engine's state:
//   - "ok" means that the board that gave the last answer holds the file's image;
//   - an ERROR that reached the host after a line was written ends the job, refused, in the read
//     that brought it; a refusal for an ERROR names a line that an ERROR refused;
//   - a schedule of faults the flasher recovers from ends "ok"; so do the window's schedules of
//     harmless faults; a fault-free schedule takes two commands a line (one for a verify), no
//     re-send, one verify pass; the window never ends "ok" after a lost answer;
//   - a verify job never sends a download line, every job ends within a bound of virtual time
//     (the window may wait for ever for a lost answer), and a failure carries a known result and
//     names only real lines.
// Schedules beyond the promise (a stray or duplicate that neither order nor timing can tell from
// the line's answer, see Traffic::beyondThePromise) are counted apart; how many of them ended
// "ok" with a board that does not hold the file is reported, not judged.
//
//   sim_jobs [--seeds N] [--first S]   runs seeds S .. S+N-1 (default 0 .. 19999)
//   sim_jobs --seed S                  replays one seed, printing every event
#include "simulation/Firmware.h"
#include "simulation/JobWorld.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

using quenta::JobResult;
using simulation::Facts;
using simulation::Outcome;
using simulation::Policy;

namespace {

bool ok(const Outcome &outcome) {
    return outcome.end && outcome.end->result == JobResult::Ok;
}

bool beyond(const Outcome &outcome) {
    return outcome.facts.promise.beyondInVerify;
}

// A line a message names, and how.
struct NamedLine {
    enum class Kind { Exact, AtOrBefore, Before } kind = Kind::Exact;
    unsigned long line = 0;
};

// The first line the message names: "line K", "line K or an earlier one", "before line K".
std::optional<NamedLine> firstNamedLine(const std::string &message) {
    for (std::size_t at = message.find("line "); at != std::string::npos;
         at = message.find("line ", at + 1)) {
        const char *digits = message.c_str() + at + 5;
        if (!std::isdigit(static_cast<unsigned char>(*digits))) {
            continue;
        }
        char *end = nullptr;
        NamedLine named;
        named.line = std::strtoul(digits, &end, 10);
        if (at >= 7 && message.compare(at - 7, 7, "before ") == 0) {
            named.kind = NamedLine::Kind::Before;
        } else if (std::string(end).rfind(" or an earlier one", 0) == 0) {
            named.kind = NamedLine::Kind::AtOrBefore;
        }
        return named;
    }
    return std::nullopt;
}

bool namesRealLinesOnly(const Outcome &outcome) {
    const std::string &message = outcome.end->message;
    for (std::size_t at = message.find("line "); at != std::string::npos;
         at = message.find("line ", at + 1)) {
        const char *digits = message.c_str() + at + 5;
        const unsigned long line = std::strtoul(digits, nullptr, 10);
        if (std::isdigit(static_cast<unsigned char>(*digits)) &&
            (line < 1 || line > outcome.lines)) {
            return false;
        }
    }
    return true;
}

// Whether the message says the job was refused for an "ERROR" of the board.
bool refusedForError(const Outcome &outcome) {
    const std::string &message = outcome.end->message;
    const std::size_t quote = message.find("the board answered \"");
    if (outcome.end->result != JobResult::Refused || quote == std::string::npos) {
        return false;
    }
    const std::size_t from = quote + 20;
    return message.substr(from, message.find('"', from) - from).find("ERROR") != std::string::npos;
}

// An ERROR that came after a line was written ends the job in the read that brought it.
std::string droppedError(const Outcome &outcome) {
    const Facts &facts = outcome.facts;
    std::optional<std::size_t> first;
    for (const simulation::ErrorSeen &error : facts.errors) {
        if (error.binding) {
            first = std::min(first.value_or(error.read), error.read);
        }
    }
    if (!first) {
        return {};
    }
    if (!outcome.end || outcome.end->result != JobResult::Refused ||
        facts.readsAtEnd != *first + 1) {
        return "an ERROR reached the host in read " + std::to_string(*first + 1) +
               " and the job did not end refused in it";
    }
    return {};
}

// A refusal for an ERROR names a line that an ERROR refused.
std::string misnamedError(const Outcome &outcome) {
    if (!refusedForError(outcome)) {
        return {};
    }
    const auto named = firstNamedLine(outcome.end->message);
    if (!named) {
        return {};
    }
    for (const simulation::ErrorSeen &error : outcome.facts.errors) {
        if (error.lines.empty() && named->kind == NamedLine::Kind::Before) {
            return {}; // an ERROR before any line was out
        }
        for (const std::size_t line : error.lines) {
            if ((named->kind == NamedLine::Kind::Exact && line == named->line) ||
                (named->kind == NamedLine::Kind::AtOrBefore && line <= named->line) ||
                (named->kind == NamedLine::Kind::Before && line < named->line)) {
                return {};
            }
        }
    }
    std::string lines;
    for (const simulation::ErrorSeen &error : outcome.facts.errors) {
        if (error.lines.empty() && named->kind == NamedLine::Kind::Before) {
            return {}; // an ERROR before any line was out
        }
        for (const std::size_t line : error.lines) {
            lines += " " + std::to_string(line);
        }
    }
    return "the refusal names a line no ERROR refused (ERRORs refused:" +
           (lines.empty() ? std::string(" none") : lines) + ")";
}

// No fault at all.
bool faultFree(const Facts &facts) {
    return facts.faults == 0 && facts.boardCanHold && !facts.lateAnswer;
}

// Faults the flasher recovers from, and no more of them than it may meet.
bool recoverable(const Outcome &outcome) {
    const Facts &facts = outcome.facts;
    using namespace simulation;
    constexpr std::uint32_t kNever = kError | kStrayError | kCorrupt | kLate | kSlowEnd;
    if (!facts.boardCanHold || (facts.faults & kNever) != 0 || facts.lateAnswer) {
        return false;
    }
    if (facts.drops > quenta::kMaxResumes || facts.dropOutlastedWait ||
        facts.mostRecordsLost > quenta::kDownloadBackoff) {
        return false;
    }
    if (facts.longestLineMisses > facts.retries || facts.longestProbeMisses >= facts.probesInWait) {
        return false;
    }
    if (facts.disturbancesElsewhere > 0 || facts.faultAfterSecondVerify) {
        return false;
    }
    return facts.disturbancesInFirstVerify == 0 ||
           (facts.disturbancesInFirstVerify == 1 && facts.retries >= 1 && !facts.lossInVerify);
}

// Faults that change nothing but how the answers are cut into reads.
bool harmless(const Facts &facts) {
    return (facts.faults & ~simulation::kHarmless) == 0 &&
           (facts.faults & simulation::kNoise) == 0 && facts.boardCanHold;
}

std::string livenessFailure(const Outcome &outcome) {
    const Facts &facts = outcome.facts;
    const bool inClass = outcome.policy == Policy::Flasher ? recoverable(outcome) : harmless(facts);
    if (inClass && !beyond(outcome) && !ok(outcome)) {
        return outcome.policy == Policy::Flasher
                   ? "a schedule of recoverable faults did not end ok"
                   : "a schedule of harmless faults did not end ok in the window";
    }
    if (faultFree(facts) && ok(outcome)) {
        const std::size_t perLine = outcome.verifyOnly ? 1 : 2;
        if (facts.lineWrites != perLine * outcome.lines || facts.reSends != 0 ||
            facts.verifyStarts != 1 || facts.drops != 0) {
            return "a fault-free job took " + std::to_string(facts.lineWrites) +
                   " line commands (" + std::to_string(facts.reSends) + " re-sent, " +
                   std::to_string(facts.verifyStarts) + " verify passes) for " +
                   std::to_string(outcome.lines) + " lines";
        }
    }
    // Unless a stray or duplicate stood in for it, unseen.
    if (outcome.policy == Policy::Window && (facts.faults & simulation::kLose) != 0 &&
        !facts.promise.misleading && ok(outcome)) {
        return "the window ended ok though an answer was lost";
    }
    return {};
}

// What is wrong with the outcome; empty when nothing is.
std::string broken(const Outcome &outcome) {
    if (outcome.overran) {
        return "the job did not end within " + std::to_string(outcome.boundMs) +
               " ms of virtual time";
    }
    if (!outcome.end && !(outcome.policy == Policy::Window && outcome.waiting)) {
        return "the engine waits for nothing: the job never ends";
    }
    if (!outcome.downloadInVerify.empty()) {
        return "a verify job sent a download line: " + outcome.downloadInVerify;
    }
    if (const std::string why = droppedError(outcome); !why.empty()) {
        return why;
    }
    if (const std::string why = livenessFailure(outcome); !why.empty()) {
        return why;
    }
    if (!outcome.end) {
        return {};
    }
    const std::string &message = outcome.end->message;
    if (ok(outcome)) {
        if (!beyond(outcome) && !simulation::holds(outcome.held, outcome.image)) {
            return "ok, but the board does not hold the file";
        }
        return {};
    }
    if (outcome.end->result == JobResult::Interrupted ||
        outcome.end->result == JobResult::PortError || message.empty()) {
        return "an outcome the engine never gives: " +
               std::string(quenta::resultName(outcome.end->result)) + " \"" + message + "\"";
    }
    if (!namesRealLinesOnly(outcome)) {
        return "the message names a line the file does not have: " + message;
    }
    if (!outcome.facts.promise.misleading) {
        if (const std::string why = misnamedError(outcome); !why.empty()) {
            return why + ": " + message;
        }
    }
    return {};
}

std::string outcomeName(const Outcome &outcome) {
    if (!outcome.end) {
        return "waiting";
    }
    return std::string(quenta::resultName(outcome.end->result));
}

struct Figures {
    std::map<std::string, std::uint64_t> flasher;
    std::map<std::string, std::uint64_t> window;
    std::uint64_t recoverableSeeds = 0;
    std::uint64_t harmlessSeeds = 0;
    std::uint64_t faultFreeSeeds = 0;
    std::uint64_t beyondVerify = 0;
    std::uint64_t misleadingOnly = 0;
    std::uint64_t fooled = 0;

    void count(const Outcome &outcome) {
        auto &outcomes = outcome.policy == Policy::Flasher ? flasher : window;
        ++outcomes[outcomeName(outcome)];
        if (outcome.policy == Policy::Flasher && recoverable(outcome)) {
            ++recoverableSeeds;
        }
        if (outcome.policy == Policy::Window && harmless(outcome.facts)) {
            ++harmlessSeeds;
        }
        faultFreeSeeds += faultFree(outcome.facts) ? 1 : 0;
        if (outcome.facts.promise.beyondInVerify) {
            ++beyondVerify;
            fooled += ok(outcome) && !simulation::holds(outcome.held, outcome.image) ? 1 : 0;
        } else if (outcome.facts.promise.misleading) {
            ++misleadingOnly;
        }
    }
};

void printOutcomes(const char *policy, const std::map<std::string, std::uint64_t> &outcomes) {
    std::uint64_t total = 0;
    std::string text;
    for (const auto &[name, count] : outcomes) {
        total += count;
        text += " " + name + " " + std::to_string(count);
    }
    std::printf("%-8s %7llu:%s\n", policy, static_cast<unsigned long long>(total), text.c_str());
}

} // namespace

int main(int argc, char *argv[]) {
    std::uint64_t first = 0;
    std::uint64_t seeds = 20000;
    bool replay = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::uint64_t value = std::strtoull(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--seeds") == 0) {
            seeds = value;
        } else if (std::strcmp(argv[i], "--first") == 0) {
            first = value;
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            first = value;
            seeds = 1;
            replay = true;
        }
    }
    const auto started = std::chrono::steady_clock::now();
    Figures figures;
    std::uint64_t failed = 0;
    for (std::uint64_t seed = first; seed < first + seeds; ++seed) {
        const Outcome outcome = simulation::runJob(seed, replay);
        const std::string why = broken(outcome);
        if (!why.empty()) {
            ++failed;
            std::printf("seed %llu: %s\n  replay: %s --seed %llu\n",
                        static_cast<unsigned long long>(seed), why.c_str(), argv[0],
                        static_cast<unsigned long long>(seed));
            continue;
        }
        figures.count(outcome);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::printf("seeds %llu (%llu .. %llu) in %.2f s\n", static_cast<unsigned long long>(seeds),
                static_cast<unsigned long long>(first),
                static_cast<unsigned long long>(first + seeds - 1), took.count());
    printOutcomes("flasher", figures.flasher);
    printOutcomes("window", figures.window);
    std::printf("must end ok: %llu flasher schedules of recoverable faults, %llu window schedules "
                "of harmless faults, %llu fault-free\n",
                static_cast<unsigned long long>(figures.recoverableSeeds),
                static_cast<unsigned long long>(figures.harmlessSeeds),
                static_cast<unsigned long long>(figures.faultFreeSeeds));
    std::printf("beyond the promise: %llu taken for a verify line's answer (%llu of them ok with a "
                "board that does not hold the file), %llu elsewhere (a download, or a voided "
                "pass)\n",
                static_cast<unsigned long long>(figures.beyondVerify),
                static_cast<unsigned long long>(figures.fooled),
                static_cast<unsigned long long>(figures.misleadingOnly));
    std::printf("%llu passed, %llu failed\n", static_cast<unsigned long long>(seeds - failed),
                static_cast<unsigned long long>(failed));
    return failed == 0 ? 0 : 1;
}
