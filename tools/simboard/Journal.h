#pragma once

#include "simboard/IntelHex.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace simboard {

// What the last acknowledged download records wrote over, so that a board can forget them the way
// one does whose power failed before they reached its flash.
class Journal {
public:
    // How many records are remembered; 0 remembers none.
    void setDepth(std::size_t depth);

    // Remembers what memory holds at the addresses a record is about to write; a record that
    // writes nothing is remembered all the same.
    void remember(const Memory &memory, const std::vector<std::uint32_t> &addresses);

    // Puts back what the last `count` remembered records wrote over, newest first, and forgets
    // them.
    void undo(Memory &memory, std::size_t count);

private:
    using Entry = std::vector<std::pair<std::uint32_t, std::optional<std::uint8_t>>>;

    void trim();

    std::deque<Entry> entries_;
    std::size_t depth_ = 0;
};

} // namespace simboard
