#include "io/system/Terminal.h"

#include <unistd.h>

namespace quenta {

int standardError() {
    return STDERR_FILENO;
}

bool isTerminal(int fd) {
    return ::isatty(fd) == 1;
}

bool writeAll(int fd, const QByteArray &bytes) {
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + written,
                                  static_cast<std::size_t>(bytes.size() - written));
        if (n <= 0) {
            return false;
        }
        written += n;
    }
    return true;
}

} // namespace quenta
