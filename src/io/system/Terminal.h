#pragma once

#include <QByteArray>

namespace quenta {

// Standard error, where progress and complaints go.
int standardError();

// Whether `fd` is a terminal: progress redrawn in place is for a person, not a log.
bool isTerminal(int fd);

// Writes all of `bytes` to `fd`; false when it could not.
bool writeAll(int fd, const QByteArray &bytes);

} // namespace quenta
