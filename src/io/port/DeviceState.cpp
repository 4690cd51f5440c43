#include "io/port/DeviceState.h"

#include <poll.h>

namespace quenta {

bool deviceFailed(qintptr handle) {
    pollfd device{static_cast<int>(handle), POLLIN | POLLOUT, 0};
    return ::poll(&device, 1, 0) < 0 || (device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

} // namespace quenta
