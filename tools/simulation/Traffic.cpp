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

// Whether the engine takes it for an answer at all: it holds a keyword and came readable.
bool readable(const Item &item) {
    return item.kind != ItemKind::Garbled && item.kind != ItemKind::NoiseLine &&
           !item.keyword.empty();
}

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

std::size_t Traffic::lastPassBegin() const {
    std::size_t begin = 0;
    for (std::size_t w = 0; w < writes_.size(); ++w) {
        const Write &write = writes_[w];
        if (write.kind == CommandKind::Probe) {
            continue;
        }
        if (w == 0 || writes_[w - 1].kind != write.kind || write.passStart) {
            begin = w;
        }
    }
    return begin;
}

// The engine takes for a line's answer the first readable thing that began after the line went
// out; in a pass that ended well nothing else came between.
PassReview Traffic::reviewLastPass(std::size_t readsAtEnd, Micros limitUs) const {
    PassReview review;
    const std::size_t from = lastPassBegin();
    if (from >= writes_.size()) {
        return review;
    }
    std::vector<int> order;
    for (std::size_t r = 0; r < reads_.size() && r < readsAtEnd; ++r) {
        order.insert(order.end(), reads_[r].begun.begin(), reads_[r].begun.end());
    }
    std::size_t next = 0;
    for (std::size_t w = from; w < writes_.size(); ++w) {
        const Write &write = writes_[w];
        if (write.kind == CommandKind::Probe) {
            continue;
        }
        while (next < order.size() &&
               (*items_[static_cast<std::size_t>(order[next])].beginRead < write.readsBefore ||
                !readable(items_[static_cast<std::size_t>(order[next])]))) {
            ++next;
        }
        if (next == order.size()) {
            break;
        }
        const Item &taken = items_[static_cast<std::size_t>(order[next++])];
        review.standIn = review.standIn ||
                         !(taken.kind == ItemKind::Answer && taken.answers == static_cast<int>(w));
    }
    for (const Item &item : items_) {
        if (item.kind != ItemKind::Answer || item.keyword != "ERROR" ||
            item.answers < static_cast<int>(from)) {
            continue;
        }
        const Micros took =
            item.dueAt ? *item.dueAt - writes_[static_cast<std::size_t>(item.answers)].at : 0;
        review.lostError =
            review.lostError || item.lost || item.cut || (limitUs > 0 && took >= limitUs);
    }
    return review;
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
