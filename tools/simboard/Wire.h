#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace simboard {

// The timing of the board's line: when each received byte came in and, at a given speed, how long
// commands and answers take to cross a wire of 10 bits a byte. Positions count the bytes received
// over the board's life, from 0.
class Wire {
public:
    using Clock = std::chrono::steady_clock;

    // 0: no wire to cross, everything goes out at once.
    void setBaud(int baud) { baud_ = baud; }

    // Notes that the next `count` bytes came in, none of them later than `at`.
    void received(std::size_t count, Clock::time_point at);
    // When the byte at `position` came in.
    Clock::time_point arrivalOf(std::uint64_t position) const;
    // Forgets when the bytes before `position` came in.
    void forgetBefore(std::uint64_t position);

    // Takes the line for `bytes` from `from` on, or from when it becomes free if that is later, and
    // returns when they have crossed it. Without a speed: `from`.
    Clock::time_point cross(Clock::time_point from, std::size_t bytes);
    // The line stays taken until `until`.
    void takenUntil(Clock::time_point until);

private:
    struct Arrival {
        std::uint64_t position = 0; // the first byte of a read
        Clock::time_point at;
    };

    std::deque<Arrival> arrivals_;
    std::uint64_t received_ = 0;
    int baud_ = 0;
    Clock::time_point free_{};
};

} // namespace simboard
