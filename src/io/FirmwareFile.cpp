#include "io/FirmwareFile.h"

#include "io/port/ControlError.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quenta {
namespace {

[[noreturn]] void raiseSystemError(int number, const QString &detail = {}) {
    QString description = QString::fromLocal8Bit(std::strerror(number));
    if (!detail.isEmpty()) {
        description += QStringLiteral(": ") + detail;
    }
    throw ControlError(number, description);
}

// Owns an open file descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

std::string readFirmwareFile(const QString &path, std::size_t limit) {
    // Not blocking: a FIFO or a device must not hold the caller in open() or read().
    const Descriptor fd(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        raiseSystemError(errno);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        raiseSystemError(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        raiseSystemError(EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        raiseSystemError(EINVAL, path + QStringLiteral(" is not a regular file"));
    }
    const QString tooLarge =
        QStringLiteral("%1 holds more than %2 bytes; no firmware file is that large")
            .arg(path, QString::number(limit));
    if (static_cast<std::size_t>(info.st_size) > limit) {
        raiseSystemError(EFBIG, tooLarge);
    }
    // Read, not mapped: a file that shrinks meanwhile only ends early; one that grows is cut off.
    std::string content;
    content.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            raiseSystemError(errno);
        }
        if (n == 0) {
            break;
        }
        if (content.size() + static_cast<std::size_t>(n) > limit) {
            raiseSystemError(EFBIG, tooLarge);
        }
        content.append(chunk, static_cast<std::size_t>(n));
    }
    return content;
}

} // namespace quenta
