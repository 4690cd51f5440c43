// The board engine through seeded fault schedules on a virtual clock (see JobWorld.h). For every
// seed one rule is checked: "ok" means that the board on the port holds the file's image.
// Besides: a verify job never sends a download line, every job ends within a bound of virtual
// time, and a failure carries a known result and names only real lines.
//
//   sim_jobs [--seeds N] [--first S]   runs seeds S .. S+N-1 (default 0 .. 19999)
//   sim_jobs --seed S                  replays one seed, printing every event
#include "simulation/JobWorld.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

using quenta::JobResult;

namespace {

// What is wrong with the outcome; empty when nothing is.
std::string broken(const simulation::Outcome &outcome) {
    if (outcome.overran) {
        return "the job did not end within " + std::to_string(outcome.boundMs) +
               " ms of virtual time";
    }
    if (!outcome.end) {
        return "the engine waits for nothing: the job never ends";
    }
    if (!outcome.downloadInVerify.empty()) {
        return "a verify job sent a download line: " + outcome.downloadInVerify;
    }
    const std::string &message = outcome.end->message;
    if (outcome.end->result == JobResult::Ok) {
        for (const auto &[address, byte] : outcome.image) {
            const auto held = outcome.held.find(address);
            const int value = held == outcome.held.end() ? simboard::kErased : held->second;
            if (value != byte) {
                char text[96];
                std::snprintf(text, sizeof text,
                              "ok, but the board holds %02X at %06X where the file has %02X", value,
                              address, byte);
                return text;
            }
        }
        return {};
    }
    if (outcome.end->result == JobResult::Interrupted ||
        outcome.end->result == JobResult::PortError || message.empty()) {
        return "an outcome the engine never gives: " +
               std::string(quenta::resultName(outcome.end->result)) + " \"" + message + "\"";
    }
    for (std::size_t at = message.find("line "); at != std::string::npos;
         at = message.find("line ", at + 1)) {
        const char *digits = message.c_str() + at + 5;
        const unsigned long line = std::strtoul(digits, nullptr, 10);
        if (std::isdigit(static_cast<unsigned char>(*digits)) &&
            (line < 1 || line > outcome.lines)) {
            return "the message names a line the file does not have: " + message;
        }
    }
    return {};
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
    std::map<std::string, std::uint64_t> outcomes;
    std::uint64_t failed = 0;
    for (std::uint64_t seed = first; seed < first + seeds; ++seed) {
        const simulation::Outcome outcome = simulation::runJob(seed, replay);
        const std::string why = broken(outcome);
        if (!why.empty()) {
            ++failed;
            std::printf("seed %llu: %s\n  replay: %s --seed %llu\n",
                        static_cast<unsigned long long>(seed), why.c_str(), argv[0],
                        static_cast<unsigned long long>(seed));
            continue;
        }
        ++outcomes[std::string(quenta::resultName(outcome.end->result))];
    }
    for (const auto &[name, count] : outcomes) {
        std::printf("%-12s %llu\n", name.c_str(), static_cast<unsigned long long>(count));
    }
    std::printf("%llu passed, %llu failed\n", static_cast<unsigned long long>(seeds - failed),
                static_cast<unsigned long long>(failed));
    return failed == 0 ? 0 : 1;
}
