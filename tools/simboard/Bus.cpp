#include "simboard/Bus.h"

#include <algorithm>
#include <iterator>
#include <ranges>
#include <stdexcept>
#include <utility>

namespace simboard {

Bus::Bus(std::vector<BootloaderOptions> boards) {
    if (boards.empty()) {
        throw std::invalid_argument("a line needs a board");
    }
    if (boards.size() > 1 && !std::ranges::all_of(boards, &BootloaderOptions::modbus)) {
        throw std::invalid_argument("several boards share a line only in Modbus mode");
    }
    for (BootloaderOptions &options : boards) {
        boards_.emplace_back(std::move(options));
    }
}

std::vector<Exchange> Bus::receive(std::string_view bytes) {
    std::vector<Exchange> exchanges;
    for (Bootloader &board : boards_) {
        std::ranges::move(board.receive(bytes), std::back_inserter(exchanges));
    }
    std::ranges::stable_sort(exchanges, {}, &Exchange::position);
    return exchanges;
}

bool Bus::inputPending() const {
    return std::ranges::any_of(boards_, &Bootloader::inputPending);
}

std::uint64_t Bus::inputStart() const {
    return std::ranges::min(boards_ | std::views::transform(&Bootloader::inputStart));
}

void Bus::dropInput() {
    std::ranges::for_each(boards_, &Bootloader::dropInput);
}

void Bus::reboot(std::size_t lost) {
    for (Bootloader &board : boards_) {
        board.reboot(lost);
    }
}

void Bus::rememberRecords(std::size_t count) {
    for (Bootloader &board : boards_) {
        board.rememberRecords(count);
    }
}

} // namespace simboard
