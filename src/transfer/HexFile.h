#pragma once

#include <QString>

#include <cstddef>
#include <string>
#include <vector>

namespace quenta {

// Error number raised when a file holds more items than the line table takes.
inline constexpr int kSubscriptOutOfRange = 9;

// Reads a firmware file whole into its items (see HexItemReader), at most maxItems of them.
// Raises ControlError with the system's error number and description when the file cannot be
// opened or read, and with kSubscriptOutOfRange when it holds more than maxItems items.
std::vector<std::string> readHexFile(const QString &path, std::size_t maxItems);

} // namespace quenta
