#pragma once

#include <QString>

#include <cstddef>
#include <string>

namespace quenta {

// The largest firmware file the window takes: 9000 records of 255 data bytes with their line ends
// fit in it.
inline constexpr std::size_t kWindowFileLimit = 5 * 1024 * 1024;

// Reads a firmware file whole, without blocking and without mapping it: only a regular file of at
// most `limit` bytes is read. Raises ControlError with the system's error number and description
// when the file cannot be opened or read, with EISDIR for a folder, with EINVAL for anything else
// that is not a regular file (a device, a FIFO, a socket), and with EFBIG when it holds more than
// `limit` bytes.
std::string readFirmwareFile(const QString &path, std::size_t limit);

} // namespace quenta
