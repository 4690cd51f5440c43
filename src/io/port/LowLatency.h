#pragma once

#include <optional>

namespace quenta {

// Asks the serial driver behind an open device to hand over received bytes at once rather than
// holding them for its latency timer. The device's serial flags as they were, when this changed
// them; none when the driver has no such request (a pseudo-terminal) or low latency was already on.
std::optional<int> requestLowLatency(int fd);

// Puts back the serial flags that requestLowLatency() found; quietly does nothing where it cannot.
void restoreSerialFlags(int fd, int flags);

} // namespace quenta
