#include "simboard/Journal.h"

namespace simboard {

void Journal::setDepth(std::size_t depth) {
    depth_ = depth;
    trim();
}

void Journal::remember(const Memory &memory, const std::vector<std::uint32_t> &addresses) {
    if (depth_ == 0) {
        return;
    }
    Entry entry;
    for (const std::uint32_t address : addresses) {
        const auto found = memory.find(address);
        entry.emplace_back(address,
                           found == memory.end() ? std::nullopt : std::optional(found->second));
    }
    entries_.push_back(std::move(entry));
    trim();
}

void Journal::undo(Memory &memory, std::size_t count) {
    for (; count > 0 && !entries_.empty(); --count) {
        for (const auto &[address, before] : entries_.back()) {
            if (before) {
                memory[address] = *before;
            } else {
                memory.erase(address);
            }
        }
        entries_.pop_back();
    }
}

void Journal::trim() {
    while (entries_.size() > depth_) {
        entries_.pop_front();
    }
}

} // namespace simboard
