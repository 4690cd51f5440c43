#pragma once

#include "link/ModbusFrame.h"

#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <cstdint>
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

inline std::string frame(std::uint8_t address, std::string_view text) {
    return quenta::modbusFrame(address, text);
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

    // Reads until `count` bytes came or ten seconds passed; returns what was read.
    std::string read(std::size_t count) {
        std::string received;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (received.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd request{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&request, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char buffer[256];
            const ssize_t got =
                ::read(fd_, buffer, std::min(sizeof buffer, count - received.size()));
            if (got <= 0) {
                break;
            }
            received.append(buffer, static_cast<std::size_t>(got));
        }
        return received;
    }

    // Writes `command` and reads as many bytes as `answer` holds.
    QByteArray ask(std::string_view command, std::string_view answer) {
        return write(command) ? qbytes(read(answer.size())) : QByteArray();
    }

private:
    int fd_;
};

// Polls `condition` until it holds or ten seconds passed.
inline bool eventually(const std::function<bool()> &condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        ::usleep(5000);
    }
    return true;
}

} // namespace simboard::testing
