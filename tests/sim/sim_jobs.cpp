// The board engine through seeded fault schedules on a virtual clock (see JobWorld.h), as the
// flasher runs it and as the window does. For every seed, judged from what the world knows
// happened, never from the engine's state:
//   - "ok" means that the board that gave the last answer holds the file's image, unless the pass
//     that ended ok held both faults that no rule can tell in one pass: a stray or a copy of an
//     answer taken for a line's answer, and an ERROR of the board's lost to even the count;
//   - once an ERROR that answers a line reached the host nothing more is written and the job ends
//     refused; a refusal for an ERROR names a line that an ERROR refused (or one after it with
//     "or an earlier one"), unless a stray or copy came and an answer was lost or late;
//   - a schedule of faults the flasher recovers from ends "ok"; so do the window's schedules of
//     harmless faults; a good board, of even or uneven pace, ends "ok" with two commands a line
//     (one for a verify) for each pass, no re-send and the wanted verify passes; the window never
//     ends "ok" after a lost answer unless a stray or copy came;
//   - a verify job never sends a download line, every job ends within a bound of virtual time
//     (the window may wait for ever for a lost answer), and a failure carries a known result and
//     names only real lines.
// The schedules beyond the promise are counted apart, by the verify passes the job wanted.
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

// The pass that ended ok held both faults that no rule can tell in one pass.
bool beyond(const Outcome &outcome) {
    return ok(outcome) && outcome.facts.lastPass.standIn && outcome.facts.lastPass.lostError;
}

// A stray or copy came, and an answer to a line was lost, garbled or later than its timeout: the
// answers after it may have been taken for the next line's, and the line an ERROR names moved with
// them.
bool namingBlurred(const Outcome &outcome) {
    const Facts &facts = outcome.facts;
    return facts.strayOrCopyRead && (facts.answerMissing || facts.lateAnswer);
}

// A line a message names, and how.
struct NamedLine {
    enum class Kind { Exact, AtOrBefore, Before } kind = Kind::Exact;
    unsigned long line = 0;
};

// The lines the message names, in order: "line K", "line K or an earlier one", "before line K".
std::vector<NamedLine> namedLines(const std::string &message) {
    std::vector<NamedLine> lines;
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
        lines.push_back(named);
    }
    return lines;
}

bool namesRealLinesOnly(const Outcome &outcome) {
    const std::vector<NamedLine> lines = namedLines(outcome.end->message);
    return std::all_of(lines.begin(), lines.end(), [&](const NamedLine &named) {
        return named.line >= 1 && named.line <= outcome.lines;
    });
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

// Once an ERROR that answers a line reached the host, nothing more is written and the job ends
// refused.
std::string droppedError(const Outcome &outcome) {
    const Facts &facts = outcome.facts;
    const bool binding = std::any_of(facts.errors.begin(), facts.errors.end(),
                                     [](const simulation::ErrorSeen &e) { return e.binding; });
    if (!binding) {
        return {};
    }
    if (!outcome.end || outcome.end->result != JobResult::Refused) {
        return "an ERROR reached the host and the job did not end refused";
    }
    if (facts.writesAfterError > 0) {
        return "an ERROR reached the host and " + std::to_string(facts.writesAfterError) +
               " more commands were written";
    }
    return {};
}

// A refusal for an ERROR names a line that an ERROR refused, or an ERROR before any line was out
// the line before which it came.
std::string misnamedError(const Outcome &outcome) {
    if (!refusedForError(outcome)) {
        return {};
    }
    const std::vector<NamedLine> named = namedLines(outcome.end->message);
    if (named.empty()) {
        return {};
    }
    const NamedLine &first = named.front();
    std::string lines;
    for (const simulation::ErrorSeen &error : outcome.facts.errors) {
        if (error.lines.empty() && first.kind == NamedLine::Kind::Before) {
            return {};
        }
        for (const std::size_t line : error.lines) {
            if ((first.kind == NamedLine::Kind::Exact && line == first.line) ||
                (first.kind == NamedLine::Kind::AtOrBefore && line <= first.line) ||
                (first.kind == NamedLine::Kind::Before && line < first.line)) {
                return {};
            }
            lines += " " + std::to_string(line);
        }
    }
    return "the refusal names a line no ERROR refused (ERRORs refused:" +
           (lines.empty() ? std::string(" none") : lines) + ")";
}

// A good board of any pace and nothing else wrong: no fault but an adapter's ticks.
bool goodBoard(const Facts &facts) {
    return (facts.faults & ~std::uint32_t{simulation::kAdapter}) == 0 && facts.boardCanHold &&
           !facts.lateAnswer;
}

// Faults the flasher recovers from, and no more of them than it may meet.
bool recoverable(const Outcome &outcome) {
    const Facts &facts = outcome.facts;
    using namespace simulation;
    constexpr std::uint32_t kNever = kError | kStrayError | kCorrupt | kLate | kSlowEnd;
    return facts.boardCanHold && (facts.faults & kNever) == 0 && !facts.lateAnswer &&
           facts.drops <= quenta::kMaxResumes && !facts.dropOutlastedWait &&
           facts.mostRecordsLost <= quenta::kDownloadBackoff &&
           facts.longestLineMisses <= facts.retries &&
           facts.longestProbeMisses < facts.probesInWait && facts.disturbancesElsewhere <= 0 &&
           !facts.faultAfterSecondVerify &&
           (facts.disturbancesInFirstVerify == 0 ||
            (facts.disturbancesInFirstVerify == 1 && facts.retries >= 1 && !facts.lossInVerify));
}

// Faults that change nothing but how the answers are cut into reads.
bool harmless(const Facts &facts) {
    return (facts.faults & ~simulation::kHarmless) == 0 &&
           (facts.faults & simulation::kNoise) == 0 && facts.boardCanHold;
}

std::string livenessFailure(const Outcome &outcome) {
    const Facts &facts = outcome.facts;
    const bool inClass = outcome.policy == Policy::Flasher ? recoverable(outcome) : harmless(facts);
    if ((inClass || goodBoard(facts)) && !ok(outcome)) {
        if (goodBoard(facts)) {
            return "a good board did not end ok";
        }
        return outcome.policy == Policy::Flasher
                   ? "a schedule of recoverable faults did not end ok"
                   : "a schedule of harmless faults did not end ok in the window";
    }
    if (goodBoard(facts)) {
        const std::size_t passes = static_cast<std::size_t>(facts.verifyPasses);
        const std::size_t perLine = passes + (outcome.verifyOnly ? 0 : 1);
        if (facts.lineWrites != perLine * outcome.lines || facts.reSends != 0 ||
            facts.verifyStarts != passes || facts.drops != 0) {
            return "a good board's job took " + std::to_string(facts.lineWrites) +
                   " line commands (" + std::to_string(facts.reSends) + " re-sent, " +
                   std::to_string(facts.verifyStarts) + " verify passes) for " +
                   std::to_string(outcome.lines) + " lines";
        }
    }
    // Unless a stray or duplicate stood in for it, unseen.
    if (outcome.policy == Policy::Window && (facts.faults & simulation::kLose) != 0 &&
        !facts.strayOrCopyRead && ok(outcome)) {
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
    if (outcome.policy == Policy::Flasher && !namingBlurred(outcome)) {
        if (const std::string why = misnamedError(outcome); !why.empty()) {
            return why + ": " + message;
        }
    }
    return {};
}

std::string outcomeName(const Outcome &outcome) {
    return outcome.end ? std::string(quenta::resultName(outcome.end->result)) : "waiting";
}

struct Figures {
    std::map<std::string, std::uint64_t> flasher;
    std::map<std::string, std::uint64_t> window;
    std::uint64_t recoverableSeeds = 0;
    std::uint64_t harmlessSeeds = 0;
    std::uint64_t goodBoardSeeds = 0;
    std::uint64_t blurred = 0;
    // By the verify passes the job wanted (1 or 2): pairs drawn, pairs that ended ok on a board
    // that does not hold the file, and all such oks.
    std::uint64_t pairs[3] = {};
    std::uint64_t pairsFooled[3] = {};
    std::uint64_t beyondPromise[3] = {};

    void count(const Outcome &outcome) {
        const bool byFlasher = outcome.policy == Policy::Flasher;
        ++(byFlasher ? flasher : window)[outcomeName(outcome)];
        recoverableSeeds += byFlasher && recoverable(outcome);
        harmlessSeeds += !byFlasher && harmless(outcome.facts);
        goodBoardSeeds += goodBoard(outcome.facts);
        blurred += byFlasher && namingBlurred(outcome) && !misnamedError(outcome).empty();
        const int passes = std::clamp(outcome.facts.verifyPasses, 1, 2);
        if (outcome.pair) {
            ++pairs[passes];
            pairsFooled[passes] += ok(outcome) && !simulation::holds(outcome.held, outcome.image);
        }
        beyondPromise[passes] += beyond(outcome);
    }
};

// For printf's %llu.
unsigned long long llu(std::uint64_t n) {
    return static_cast<unsigned long long>(n);
}

void printOutcomes(const char *policy, const std::map<std::string, std::uint64_t> &outcomes) {
    std::uint64_t total = 0;
    std::string text;
    for (const auto &[name, count] : outcomes) {
        total += count;
        text += " " + name + " " + std::to_string(count);
    }
    std::printf("%-8s %7llu:%s\n", policy, llu(total), text.c_str());
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
            std::printf("seed %llu: %s\n  replay: %s --seed %llu\n", llu(seed), why.c_str(),
                        argv[0], llu(seed));
            continue;
        }
        figures.count(outcome);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::printf("seeds %llu (%llu .. %llu) in %.2f s\n", llu(seeds), llu(first),
                llu(first + seeds - 1), took.count());
    printOutcomes("flasher", figures.flasher);
    printOutcomes("window", figures.window);
    std::printf("must end ok: %llu flasher schedules of recoverable faults, %llu window schedules "
                "of harmless faults, %llu good boards of any pace\n",
                llu(figures.recoverableSeeds), llu(figures.harmlessSeeds),
                llu(figures.goodBoardSeeds));
    for (int passes = 1; passes <= 2; ++passes) {
        std::printf("pairs of faults with %d verify pass%s: %llu, ended ok on a board that does "
                    "not hold the file: %llu (beyond the promise, all schedules: %llu)\n",
                    passes, passes > 1 ? "es" : "", llu(figures.pairs[passes]),
                    llu(figures.pairsFooled[passes]), llu(figures.beyondPromise[passes]));
    }
    std::printf("refusals whose line a stray or copy and a lost or late answer moved: %llu\n",
                llu(figures.blurred));
    std::printf("%llu passed, %llu failed\n", llu(seeds - failed), llu(failed));
    return failed == 0 ? 0 : 1;
}
