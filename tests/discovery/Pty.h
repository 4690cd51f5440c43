#pragma once

// A pseudo-terminal standing for a serial device: its slave side is a real character device
// (/dev/pts/N) for as long as the object lives.

#include <QString>

#include <pty.h>
#include <unistd.h>

namespace quenta::testing {

class Pty {
public:
    Pty() {
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            path_ = QString::fromLocal8Bit(name);
        }
    }
    ~Pty() {
        if (master_ >= 0) {
            ::close(master_);
            ::close(slave_);
        }
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    // Empty when no pseudo-terminal could be had.
    const QString &path() const { return path_; }

private:
    int master_ = -1;
    int slave_ = -1;
    QString path_;
};

} // namespace quenta::testing
