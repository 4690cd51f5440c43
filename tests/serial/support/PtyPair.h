#pragma once

// A real pseudo-terminal for the serial port tests. The control opens the slave side by its path
// (/dev/pts/N) exactly as it opens a serial device; the test plays the board on the master side
// with plain POSIX reads and writes. Closing the master makes the device vanish, as a pulled USB
// cable does.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace quenta::testing {

// Only bounds so that a broken control cannot hang a test; never a measure of speed. The first
// limits plain waits on the device, the second waits that run the event loop (QTRY_*), which Qt
// Test stretches further when they fail.
inline constexpr int kHangGuardMs = 15000;
inline constexpr int kEventGuardMs = 5000;

// The characters 0 to 255, in order.
inline std::string allByteValues() {
    std::string bytes(256, '\0');
    for (int i = 0; i < 256; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(i);
    }
    return bytes;
}

// A block of the given size in which every byte value occurs and neighbours differ.
inline std::string bytePattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    }
    return bytes;
}

// For readable comparisons in failure messages.
inline QByteArray asBytes(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

class PtyPair {
public:
    PtyPair() {
        // Raw from the start: no echo, no line editing and no signal characters while the test
        // writes before the control has opened the device. The speed is one that no test
        // selects, so a setting the control failed to apply shows.
        termios raw{};
        ::cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        ::cfsetispeed(&raw, B38400);
        ::cfsetospeed(&raw, B38400);
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
            master_ = -1;
            slave_ = -1;
            return;
        }
        path_ = QString::fromLocal8Bit(name);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }

    ~PtyPair() {
        closeMaster();
        if (slave_ >= 0) {
            ::close(slave_);
        }
    }

    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return master_ >= 0 && slave_ >= 0; }
    // The device node the control opens.
    const QString &path() const { return path_; }

    // The device vanishes: every later read or write by the control fails.
    void closeMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    // The board sends: every byte, in order, waiting as long as the line is full.
    bool send(std::string_view bytes) const {
        const QDeadlineTimer guard(kHangGuardMs);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
            if (!waitFor(POLLOUT, guard)) {
                return false;
            }
        }
        return true;
    }

    // The board sends what the line takes right now, without waiting; returns how many.
    std::size_t sendSome(std::string_view bytes) const {
        const ssize_t n = ::write(master_, bytes.data(), bytes.size());
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }

    // The board receives up to count bytes; fewer only if nothing more came before the guard.
    std::string receive(std::size_t count) const {
        const QDeadlineTimer guard(kHangGuardMs);
        std::string bytes;
        while (bytes.size() < count) {
            char chunk[4096];
            const std::size_t want = std::min(sizeof chunk, count - bytes.size());
            const ssize_t n = ::read(master_, chunk, want);
            if (n > 0) {
                bytes.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            }
            if (!waitFor(POLLIN, guard)) {
                break;
            }
        }
        return bytes;
    }

    // Whatever the board could read right now, without waiting.
    std::string receiveWaiting() const {
        std::string bytes;
        for (;;) {
            char chunk[4096];
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n <= 0) {
                return bytes;
            }
            bytes.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Bytes that reached the device and wait there for the control to read them.
    int waitingInDevice() const {
        int count = 0;
        if (::ioctl(slave_, FIONREAD, &count) != 0) {
            return -1;
        }
        return count;
    }

    // Waits, without running any event loop, until count bytes wait in the device.
    bool waitUntilInDevice(int count) const {
        const QDeadlineTimer guard(kHangGuardMs);
        while (waitingInDevice() != count) {
            if (guard.hasExpired()) {
                return false;
            }
            ::usleep(1000);
        }
        return true;
    }

    // The line settings of the device as they stand.
    std::optional<termios> lineSettings() const {
        termios line{};
        if (::tcgetattr(slave_, &line) != 0) {
            return std::nullopt;
        }
        return line;
    }

private:
    bool waitFor(short events, const QDeadlineTimer &guard) const {
        pollfd fd{master_, events, 0};
        const qint64 left = guard.remainingTime();
        if (left <= 0) {
            return false;
        }
        return ::poll(&fd, 1, static_cast<int>(left)) > 0 && (fd.revents & events) != 0;
    }

    int master_ = -1;
    int slave_ = -1;
    QString path_;
};

} // namespace quenta::testing
