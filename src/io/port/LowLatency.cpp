#include "io/port/LowLatency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace quenta {

std::optional<int> requestLowLatency(int fd) {
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY) != 0) {
        return std::nullopt;
    }
    const int before = serial.flags;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0) {
        return std::nullopt;
    }
    return before;
}

void restoreSerialFlags(int fd, int flags) {
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags = flags;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
}

} // namespace quenta
