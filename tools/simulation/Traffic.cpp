#include "simulation/Traffic.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace simulation {
namespace {

CommandKind kindOf(const std::string &command) {
    if (command.rfind("BOOT:", 0) == 0) {
        return CommandKind::Download;
    }
    if (command.rfind("BOOT#", 0) == 0) {
        return CommandKind::Verify;
    }
    return CommandKind::Probe;
}

// The record a line command carries: "BOOT:" or "BOOT#", the record's digits, CR LF.
std::string recordOf(const std::string &command) {
    if (command.size() < 7) {
        return {};
    }
    return ":" + command.substr(5, command.size() - 7);
}

bool isVersion(const Item &item) {
    return item.keyword.rfind("VER=", 0) == 0;
}

// What the world knows of the answers to the lines of one pass and length: how many the engine
// surely timed since it may last have forgotten them, the quickest of those, and the quickest of
// all that it may have timed.
struct Timing {
    int count = 0;
    std::optional<Micros> quickestTimed;
    std::optional<Micros> quickestAll;
    int seen = 0; // answers that fit such a line, sent once: no fewer than the engine timed
};

// How long an answer that the engine surely took for the line's own took, to come whole.
struct Span {
    std::size_t beginRead = 0;
    std::size_t endRead = 0;
    Micros took = 0;
};

// Goes through the traffic in the order the host met it and judges every first thing after a
// line's write.
class PromiseJudge {
public:
    PromiseJudge(const std::vector<Write> &writes, const std::vector<Item> &items,
                 const std::vector<Read> &reads, const std::vector<Traffic::Arrival> &arrivals,
                 const TimingRule &rule)
        : writes_(writes), items_(items), reads_(reads), arrivals_(arrivals), rule_(rule) {}

    Promise judge() {
        std::size_t next = 0;
        for (std::size_t r = 0; r < reads_.size(); ++r) {
            for (; next < writes_.size() && writes_[next].readsBefore <= r; ++next) {
                onWrite(next);
            }
            for (const int id : reads_[r].begun) {
                onItem(items_[static_cast<std::size_t>(id)]);
            }
            forgetOnVersionEnds(r);
        }
        return promise_;
    }

private:
    void onWrite(std::size_t index) {
        current_ = index;
        firstSeen_ = false;
        taken_ = false;
        blocked_ = false;
        const Write &write = writes_[index];
        if (write.kind != CommandKind::Verify) {
            return;
        }
        if (write.repeat) {
            passResent_ = true;
        } else if (write.passStart) {
            passResent_ = false;
        }
    }

    // The engine forgets its timings when the board's version changes; the world forgets at
    // every version text once two were seen, when it begins and when it ends.
    void forget() {
        for (auto &[key, timing] : timings_) {
            timing.count = 0;
            timing.quickestTimed.reset();
        }
    }

    void forgetOnVersionEnds(std::size_t read) {
        for (const int id : reads_[read].ended) {
            if (isVersion(items_[static_cast<std::size_t>(id)]) && versions_.size() > 1) {
                forget();
            }
        }
    }

    void onItem(const Item &item) {
        if (isVersion(item)) {
            versions_.insert(item.keyword);
            if (versions_.size() > 1) {
                forget();
            }
        }
        if (!current_) {
            return;
        }
        const Write &write = writes_[*current_];
        if (write.kind == CommandKind::Probe || item.epoch != write.epoch) {
            return;
        }
        const bool readable = item.kind != ItemKind::Garbled && item.kind != ItemKind::NoiseLine;
        const bool fits = readable && item.keyword == (write.endRecord ? "DOWNLOAD" : "OK");
        Timing &timing = timings_[{write.kind, write.wireBytes}];
        const Micros took = item.beginAt - write.at;
        const bool first = !firstSeen_;
        firstSeen_ = true;
        // After a re-send the engine takes the line's answer and then as many more as it sent the
        // line again, without looking at their time or which line they fit.
        if (write.repeat && readable && (item.keyword == "OK" || item.keyword == "DOWNLOAD") &&
            (item.kind == ItemKind::Duplicate || item.kind == ItemKind::Stray)) {
            promise_.misleading = true;
        }
        // Until an answer that fits is surely taken, each one may be: one judged too soon before it
        // is passed over.
        if (fits && !taken_ && !blocked_) {
            const bool surely = surelyOwn(timing, write, took);
            judgeTaken(item, write, timing, took, first);
            if (first) {
                learn(item, write, timing, took);
            }
            taken_ = surely;
        }
        if (fits) {
            timing.quickestAll = std::min(timing.quickestAll.value_or(took), took);
            timing.seen += write.repeat ? 0 : 1;
        } else if (readable && !isVersion(item) && !item.keyword.empty()) {
            // A keyword the line does not want: the engine sends the line again, or refuses.
            blocked_ = true;
        }
    }

    // Whether the engine surely judges an answer that began `took` after the write too soon.
    bool judged(const Timing &timing, const Write &write, Micros took) const {
        return !write.repeat && timing.count >= rule_.timedAnswers && timing.quickestAll &&
               took * rule_.soonerFactor < *timing.quickestAll &&
               *timing.quickestAll - took >= rule_.slackUs;
    }

    // Whether the engine surely did not judge it too soon: it had not timed enough of them, or it
    // is no quicker than half of an answer the engine timed.
    bool surelyOwn(const Timing &timing, const Write &write, Micros took) const {
        return !write.repeat &&
               (timing.seen < rule_.timedAnswers ||
                (timing.quickestTimed && took * rule_.soonerFactor >= *timing.quickestTimed));
    }

    // An answer that fits the line, after nothing or only what the engine passes over (a version,
    // something unreadable, answers judged too soon): taken for the line's answer unless judged
    // too soon itself.
    void judgeTaken(const Item &item, const Write &write, const Timing &timing, Micros took,
                    bool first) {
        if (item.kind != ItemKind::Duplicate && item.kind != ItemKind::Stray) {
            return;
        }
        if (!item.endRead || (nextWriteReads() && *item.endRead >= *nextWriteReads())) {
            return;
        }
        if (judged(timing, write, took)) {
            return;
        }
        if (write.endRecord && write.kind == CommandKind::Verify &&
            quietCaught(item, write, timing, took)) {
            return;
        }
        promise_.misleading = true;
        promise_.beyondInVerify =
            promise_.beyondInVerify || (first && write.kind == CommandKind::Verify && !passResent_);
    }

    std::optional<std::size_t> nextWriteReads() const {
        const std::size_t next = *current_ + 1;
        return next < writes_.size() ? std::optional(writes_[next].readsBefore) : std::nullopt;
    }

    // The least quiet the engine keeps after taking `item` for the end record's answer, and
    // whether anything came within it.
    bool quietCaught(const Item &item, const Write &write, const Timing &timing,
                     Micros took) const {
        Micros slowest = 0;
        const auto forgotten = lastForgetBefore(*item.endRead);
        for (const Span &span : spans_) {
            if ((!forgotten || span.beginRead > *forgotten) && span.endRead < *item.endRead) {
                slowest = std::max(slowest, span.took);
            }
        }
        if (surelyOwn(timing, write, took)) {
            slowest = std::max(slowest, item.endAt - write.at);
        }
        Micros quiet = std::max(rule_.settleUs, 2 * slowest);
        if (rule_.timeoutUs > 0) {
            quiet = std::min(quiet, rule_.timeoutUs);
        }
        return std::any_of(arrivals_.begin(), arrivals_.end(), [&](const Traffic::Arrival &a) {
            return a.at > item.endAt && a.at < item.endAt + quiet && !a.lineEndsOnly;
        });
    }

    // The last read in which the engine may have forgotten what it timed, up to `read`.
    std::optional<std::size_t> lastForgetBefore(std::size_t read) const {
        std::optional<std::size_t> last;
        for (const Item &item : items_) {
            if (versions_.size() > 1 && isVersion(item) && item.beginRead &&
                *item.beginRead <= read) {
                last = std::max(last.value_or(0), item.endRead.value_or(read));
            }
        }
        return last;
    }

    void learn(const Item &item, const Write &write, Timing &timing, Micros took) {
        if (write.repeat) {
            return;
        }
        if (surelyOwn(timing, write, took) && item.endRead) {
            spans_.push_back({*item.beginRead, *item.endRead, item.endAt - write.at});
        }
        ++timing.count;
        timing.quickestTimed = std::min(timing.quickestTimed.value_or(took), took);
    }

    const std::vector<Write> &writes_;
    const std::vector<Item> &items_;
    const std::vector<Read> &reads_;
    const std::vector<Traffic::Arrival> &arrivals_;
    TimingRule rule_;
    std::map<std::pair<CommandKind, std::size_t>, Timing> timings_;
    std::vector<Span> spans_;
    std::set<std::string> versions_;
    std::optional<std::size_t> current_;
    bool firstSeen_ = false;  // something came after the write
    bool taken_ = false;      // an answer that fits the line came after the write, surely taken
    bool blocked_ = false;    // a keyword the line does not want came first
    bool passResent_ = false; // a line of the verify pass under way was sent again
    Promise promise_;
};

} // namespace

int Traffic::write(Micros at, std::string command, std::size_t wireBytes, int epoch) {
    Write write;
    write.at = at;
    write.readsBefore = reads_.size();
    write.kind = kindOf(command);
    write.wireBytes = wireBytes;
    write.repeat = !writes_.empty() && writes_.back().command == command;
    write.epoch = epoch;
    if (write.kind != CommandKind::Probe) {
        write.lines = linesOf(command);
        write.endRecord = recordOf(command) == records_.back();
    }
    // A verify pass begins at its first line, after anything but a line of a verify pass under
    // way (a record of the file may stand at line 1 and further on as well).
    const Write *before = writes_.empty() ? nullptr : &writes_.back();
    write.passStart =
        write.kind == CommandKind::Verify && !write.repeat && !write.lines.empty() &&
        write.lines.front() == 1 &&
        (before == nullptr || before->kind != CommandKind::Verify || before->endRecord);
    write.command = std::move(command);
    writes_.push_back(std::move(write));
    return static_cast<int>(writes_.size()) - 1;
}

int Traffic::item(ItemKind kind, std::string keyword, int answers, int epoch) {
    Item item;
    item.kind = kind;
    item.keyword = std::move(keyword);
    item.answers = answers;
    item.epoch = epoch;
    items_.push_back(std::move(item));
    return static_cast<int>(items_.size()) - 1;
}

void Traffic::read(Micros at, const std::vector<int> &begins, const std::vector<int> &ends,
                   bool lineEndsOnly) {
    const std::size_t index = reads_.size();
    reads_.push_back({at, begins, ends, lineEndsOnly});
    for (const int id : begins) {
        Item &item = items_[static_cast<std::size_t>(id)];
        item.beginRead = index;
        item.beginAt = at;
    }
    for (const int id : ends) {
        Item &item = items_[static_cast<std::size_t>(id)];
        item.endRead = index;
        item.endAt = at;
    }
}

void Traffic::cutOff(int epoch) {
    for (Item &item : items_) {
        if (item.epoch == epoch && !item.endRead && !item.lost) {
            item.cut = true;
        }
    }
}

std::vector<std::size_t> Traffic::linesOf(const std::string &command) const {
    const std::string record = recordOf(command);
    std::vector<std::size_t> lines;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (records_[i] == record) {
            lines.push_back(i + 1);
        }
    }
    return lines;
}

std::optional<std::size_t> Traffic::lineWriteBefore(std::size_t read) const {
    std::optional<std::size_t> found;
    for (std::size_t w = 0; w < writes_.size() && writes_[w].readsBefore <= read; ++w) {
        if (writes_[w].kind != CommandKind::Probe) {
            found = w;
        }
    }
    return found;
}

std::vector<ErrorSeen> Traffic::errors(std::size_t readsAtEnd) const {
    std::vector<ErrorSeen> seen;
    for (const Item &item : items_) {
        if (item.keyword != "ERROR" || !item.endRead || *item.endRead >= readsAtEnd) {
            continue;
        }
        ErrorSeen error;
        error.read = *item.endRead;
        if (item.kind == ItemKind::Stray) {
            // It answers nothing: it is taken for the line written last before it, on the port as
            // it was then.
            const auto before = lineWriteBefore(*item.beginRead);
            if (before && writes_[*before].epoch == item.epoch) {
                error.lines = writes_[*before].lines;
            }
        } else if (item.answers >= 0) {
            error.lines = writes_[static_cast<std::size_t>(item.answers)].lines;
        }
        const auto written = lineWriteBefore(*item.endRead);
        error.binding = written && writes_[*written].epoch == item.epoch;
        seen.push_back(std::move(error));
    }
    return seen;
}

Promise Traffic::beyondThePromise(const TimingRule &rule) const {
    return PromiseJudge(writes_, items_, reads_, arrivals_, rule).judge();
}

int Traffic::longestMissRun(CommandKind kind) const {
    std::map<int, const Item *> answerTo;
    for (const Item &item : items_) {
        if ((item.kind == ItemKind::Answer || item.kind == ItemKind::Garbled) &&
            item.answers >= 0) {
            answerTo.emplace(item.answers, &item);
        }
    }
    int longest = 0;
    int run = 0;
    for (std::size_t w = 0; w < writes_.size(); ++w) {
        const Write &write = writes_[w];
        if (!write.repeat) {
            run = 0;
        }
        if ((write.kind == CommandKind::Probe) != (kind == CommandKind::Probe)) {
            continue;
        }
        const auto found = answerTo.find(static_cast<int>(w));
        const bool missed =
            write.cut || (found != answerTo.end() && (found->second->lost || found->second->cut ||
                                                      found->second->kind == ItemKind::Garbled));
        run = missed ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

bool Traffic::lateAnswer(Micros limitUs, Micros probeLimitUs) const {
    return std::any_of(items_.begin(), items_.end(), [&](const Item &item) {
        if (item.kind != ItemKind::Answer || item.answers < 0 || !item.dueAt) {
            return false;
        }
        const Write &write = writes_[static_cast<std::size_t>(item.answers)];
        const Micros limit = write.kind == CommandKind::Probe ? probeLimitUs : limitUs;
        return *item.dueAt - write.at >= limit;
    });
}

bool Traffic::versionReached(const std::string &text) const {
    return std::any_of(items_.begin(), items_.end(), [&text](const Item &item) {
        return item.keyword == text && item.endRead.has_value();
    });
}

bool Traffic::verifyLineBefore(std::size_t read) const {
    const auto before = lineWriteBefore(read);
    return before && writes_[*before].kind == CommandKind::Verify;
}

std::vector<std::size_t> Traffic::verifyStarts() const {
    std::vector<std::size_t> starts;
    for (std::size_t w = 0; w < writes_.size(); ++w) {
        if (writes_[w].passStart) {
            starts.push_back(w);
        }
    }
    return starts;
}

std::size_t Traffic::lineWrites() const {
    return static_cast<std::size_t>(
        std::count_if(writes_.begin(), writes_.end(),
                      [](const Write &w) { return w.kind != CommandKind::Probe; }));
}

std::size_t Traffic::lineRepeats() const {
    return static_cast<std::size_t>(
        std::count_if(writes_.begin(), writes_.end(),
                      [](const Write &w) { return w.kind != CommandKind::Probe && w.repeat; }));
}

} // namespace simulation
