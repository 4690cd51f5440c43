#pragma once

// A real pseudo-terminal: the program opens the slave side by its path (/dev/pts/N) as it opens a
// serial device, and the test plays the board on the master side with plain POSIX calls. Closing
// the master makes the device go away, as a pulled USB cable does.

#include <QDeadlineTimer>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace quenta::testing {

// A bound that keeps a broken program from hanging a test; never a measure of speed.
inline constexpr int kHangGuardMs = 15000;

class PtyPair {
public:
    PtyPair() {
        // Raw from the start, at a speed no test selects, so a setting not applied shows.
        termios raw{};
        ::cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        ::cfsetspeed(&raw, B38400);
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, &raw, nullptr) == 0) {
            path_ = QString::fromLocal8Bit(name);
            ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        }
    }
    ~PtyPair() {
        closeMaster();
        ::close(slave_);
    }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    const QString &path() const { return path_; }

    void closeMaster() { ::close(std::exchange(master_, -1)); }

    // The board sends every byte, waiting while the line is full.
    bool send(std::string_view bytes) const {
        const QDeadlineTimer guard(kHangGuardMs);
        while (!bytes.empty()) {
            const ssize_t n = ::write(master_, bytes.data(), bytes.size());
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
            } else if ((n < 0 && errno != EAGAIN && errno != EINTR) || !waitFor(POLLOUT, guard)) {
                return false;
            }
        }
        return true;
    }

    // The board receives up to count bytes; fewer only if the rest did not come in time.
    std::string receive(std::size_t count, int guardMs = kHangGuardMs) const {
        const QDeadlineTimer guard(guardMs);
        std::string bytes;
        while (bytes.size() < count) {
            char chunk[4096];
            const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (n > 0) {
                bytes.append(chunk, static_cast<std::size_t>(n));
            } else if ((n < 0 && errno != EAGAIN && errno != EINTR) || !waitFor(POLLIN, guard)) {
                break;
            }
        }
        return bytes;
    }

    // Waits, without running the event loop, until count bytes wait in the device unread.
    bool waitUntilInDevice(int count) const {
        const QDeadlineTimer guard(kHangGuardMs);
        int waiting = -1;
        while (::ioctl(slave_, FIONREAD, &waiting) == 0 && waiting != count &&
               !guard.hasExpired()) {
            ::usleep(1000);
        }
        return waiting == count;
    }

    // Another reader of the device: takes what waits in it before the program can.
    int slaveHandle() const { return slave_; }
    void steal() const {
        char chunk[4096];
        const int flags = ::fcntl(slave_, F_GETFL);
        ::fcntl(slave_, F_SETFL, flags | O_NONBLOCK);
        while (::read(slave_, chunk, sizeof chunk) > 0) {
        }
        ::fcntl(slave_, F_SETFL, flags);
    }

    speed_t speed() const {
        termios line{};
        return ::tcgetattr(slave_, &line) == 0 ? ::cfgetospeed(&line) : B0;
    }

private:
    bool waitFor(short events, const QDeadlineTimer &guard) const {
        pollfd fd{master_, events, 0};
        const auto left = static_cast<int>(guard.remainingTime());
        return left > 0 && ::poll(&fd, 1, left) > 0 && (fd.revents & events) != 0;
    }

    int master_ = -1;
    int slave_ = -1;
    QString path_;
};

} // namespace quenta::testing
