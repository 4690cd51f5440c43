#pragma once

#include <QString>

#include <optional>

namespace quenta {

// The latency timer of the USB serial adapter behind a device, in milliseconds, as the system
// shows it under <sysRoot>/bus/usb-serial/devices/<tty name>/latency_timer (a /dev/serial/by-id
// name is followed to its ttyUSBn first). None where the system shows no such timer.
std::optional<int> adapterLatencyMs(const QString &device,
                                    const QString &sysRoot = QStringLiteral("/sys"));

} // namespace quenta
