#pragma once

#include <QString>

#include <optional>

namespace quenta {

// The device a port name stands for: COMn (any case, n from 1) is the n-th serial port,
// /dev/ttyS(n-1); any other text is a path. None for COM0 and for no text at all.
std::optional<QString> portPathFor(const QString &name);

} // namespace quenta
