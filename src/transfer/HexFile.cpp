#include "transfer/HexFile.h"

#include "controls/ControlError.h"
#include "transfer/HexReading.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace quenta {
namespace {

[[noreturn]] void raiseSystemError(int number) {
    throw ControlError(number, QString::fromLocal8Bit(std::strerror(number)));
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

std::string readAll(int fd) {
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            raiseSystemError(errno);
        }
        if (n == 0) {
            return content;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
}

std::vector<std::string> splitItems(std::string_view content, std::size_t maxItems) {
    std::vector<std::string> items;
    HexItemReader reader(content);
    while (!reader.atEnd()) {
        if (items.size() == maxItems) {
            throw ControlError(kSubscriptOutOfRange, QStringLiteral("Subscript out of range"));
        }
        items.push_back(reader.next());
    }
    return items;
}

} // namespace

std::vector<std::string> readHexFile(const QString &path, std::size_t maxItems) {
    const Descriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
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
    // A regular file is mapped rather than copied, so that a large file picked by mistake costs
    // no more than the items read before the table bound stops the reading.
    if (S_ISREG(info.st_mode) && info.st_size > 0) {
        QFile file;
        if (file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
            if (const uchar *data = file.map(0, info.st_size)) {
                return splitItems(
                    {reinterpret_cast<const char *>(data), static_cast<std::size_t>(info.st_size)},
                    maxItems);
            }
        }
    }
    return splitItems(readAll(fd.get()), maxItems);
}

} // namespace quenta
