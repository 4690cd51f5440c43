#pragma once

#include "simboard/IntelHex.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <string_view>
#include <unistd.h>

namespace simboard::testing {

inline QByteArray qbytes(std::string_view bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string bytes(const QByteArray &array) {
    return array.toStdString();
}

// Memory as "address=byte" items, for comparisons that show what differs.
inline QStringList describe(const Memory &memory) {
    QStringList items;
    for (const auto &[address, byte] : memory) {
        items << QStringLiteral("%1=%2")
                     .arg(address, 8, 16, QLatin1Char('0'))
                     .arg(byte, 2, 16, QLatin1Char('0'))
                     .toUpper();
    }
    return items;
}

// The program's end of a simulated board: the terminal opened with plain POSIX calls.
class SlavePort {
public:
    explicit SlavePort(const std::string &path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~SlavePort() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SlavePort(const SlavePort &) = delete;
    SlavePort &operator=(const SlavePort &) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool write(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t count = ::write(fd_, bytes.data(), bytes.size());
            if (count <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(count));
        }
        return true;
    }

    // Reads until `done` holds for everything read, or until `limit` passed; returns what was read.
    std::string readUntil(const std::function<bool(const std::string &)> &done,
                          std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::string received;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done(received)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !waitReadable(static_cast<int>(left.count()))) {
                break;
            }
            char buffer[256];
            const ssize_t count = ::read(fd_, buffer, sizeof buffer);
            if (count <= 0) {
                break;
            }
            received.append(buffer, static_cast<std::size_t>(count));
        }
        return received;
    }

    // Reads until the received bytes end with `ending`.
    std::string readThrough(std::string_view ending,
                            std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        return readUntil([ending](const std::string &r) { return r.ends_with(ending); }, limit);
    }

    // Everything that arrives within `span`.
    std::string readFor(std::chrono::milliseconds span) {
        return readUntil([](const std::string &) { return false; }, span);
    }

    bool waitReadable(int timeoutMs) const {
        pollfd request{fd_, POLLIN, 0};
        return ::poll(&request, 1, timeoutMs) > 0;
    }

private:
    int fd_;
};

// Polls `condition` until it holds or a generous limit passes.
inline bool eventually(const std::function<bool()> &condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        ::usleep(5000);
    }
    return true;
}

} // namespace simboard::testing
