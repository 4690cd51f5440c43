#include "simboard/Wire.h"

#include <algorithm>
#include <iterator>

namespace simboard {
namespace {

constexpr std::int64_t kBitsPerByte = 10;

} // namespace

void Wire::received(std::size_t count, Clock::time_point at) {
    arrivals_.push_back({received_, at});
    received_ += count;
}

Wire::Clock::time_point Wire::arrivalOf(std::uint64_t position) const {
    const auto after = std::ranges::upper_bound(arrivals_, position, {}, &Arrival::position);
    return after == arrivals_.begin() ? Clock::now() : std::prev(after)->at;
}

void Wire::forgetBefore(std::uint64_t position) {
    while (arrivals_.size() > 1 && arrivals_[1].position <= position) {
        arrivals_.pop_front();
    }
}

Wire::Clock::time_point Wire::cross(Clock::time_point from, std::size_t bytes) {
    if (baud_ <= 0) {
        return from;
    }
    const std::chrono::nanoseconds duration{static_cast<std::int64_t>(bytes) * kBitsPerByte *
                                            std::nano::den / baud_};
    free_ = std::max(from, free_) + duration;
    return free_;
}

void Wire::takenUntil(Clock::time_point until) {
    free_ = std::max(free_, until);
}

} // namespace simboard
