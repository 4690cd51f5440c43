#pragma once

#include "simboard/Bootloader.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace simboard {

// The boards that share one line: each takes in every byte and answers only what is its own, so a
// command for an address no board has gets no answer. Several boards share a line only in Modbus
// mode.
class Bus {
public:
    // Throws std::invalid_argument for no board, or for several that are not all in Modbus mode.
    explicit Bus(std::vector<BootloaderOptions> boards);

    // Every exchange the bytes complete, from any board, in the order the commands came in.
    std::vector<Exchange> receive(std::string_view bytes);

    bool modbus() const { return boards_.front().modbus(); }
    bool inputPending() const;
    // The earliest position, among all bytes received, where a command still to come can begin.
    std::uint64_t inputStart() const;
    void dropInput();
    // Every board starts again as after a power failure (Bootloader::reboot).
    void reboot(std::size_t lost);
    // How many acknowledged download records each board can lose at a reboot.
    void rememberRecords(std::size_t count);

    // Throws std::out_of_range for a board that is not there.
    const Bootloader &board(std::size_t index) const { return boards_.at(index); }

private:
    std::vector<Bootloader> boards_;
};

} // namespace simboard
