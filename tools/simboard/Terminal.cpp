#include "simboard/Terminal.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace simboard {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void throwErrno(const char *what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void closeFd(int &fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

void setFlags(int fd, int getCommand, int setCommand, int flags) {
    const int current = ::fcntl(fd, getCommand);
    if (current < 0 || ::fcntl(fd, setCommand, current | flags) < 0) {
        throwErrno("fcntl");
    }
}

} // namespace

Terminal::Terminal(std::string link) : link_(std::move(link)) {
    if (!link_.empty()) {
        std::error_code error;
        const auto status = fs::symlink_status(link_, error);
        if (fs::exists(status) && !fs::is_symlink(status)) {
            throw std::runtime_error(link_ + " exists and is no symbolic link");
        }
    }
    open();
}

Terminal::~Terminal() {
    close();
}

void Terminal::open() {
    if (isOpen()) {
        return;
    }
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        throwErrno("openpty");
    }
    try {
        termios settings{};
        if (::tcgetattr(slave, &settings) != 0) {
            throwErrno("tcgetattr");
        }
        ::cfmakeraw(&settings);
        if (::tcsetattr(slave, TCSANOW, &settings) != 0) {
            throwErrno("tcsetattr");
        }
        setFlags(master, F_GETFL, F_SETFL, O_NONBLOCK);
        setFlags(master, F_GETFD, F_SETFD, FD_CLOEXEC);
        setFlags(slave, F_GETFD, F_SETFD, FD_CLOEXEC);
        std::array<char, 128> name{};
        if (const int error = ::ttyname_r(slave, name.data(), name.size()); error != 0) {
            errno = error;
            throwErrno("ttyname_r");
        }
        device_ = name.data();
    } catch (...) {
        ::close(master);
        ::close(slave);
        throw;
    }
    master_ = master;
    slave_ = slave;
}

void Terminal::close() {
    closeFd(master_);
    closeFd(slave_);
    removeLink();
}

void Terminal::showLink() const {
    if (link_.empty() || !isOpen()) {
        return;
    }
    const std::string temporary = link_ + ".new";
    std::error_code ignored;
    fs::remove(temporary, ignored);
    fs::create_symlink(device_, temporary);
    fs::rename(temporary, link_);
}

void Terminal::removeLink() const {
    std::error_code error;
    if (!link_.empty() && fs::is_symlink(fs::symlink_status(link_, error))) {
        fs::remove(link_, error);
    }
}

std::string Terminal::read() const {
    std::string bytes;
    std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t count = ::read(master_, buffer.data(), buffer.size());
        if (count > 0) {
            bytes.append(buffer.data(), static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            return bytes;
        }
    }
}

void Terminal::write(std::string_view bytes) const {
    while (!bytes.empty()) {
        const ssize_t count = ::write(master_, bytes.data(), bytes.size());
        if (count > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            return;
        }
    }
}

bool Terminal::unread() const {
    // Unlike FIONREAD, a poll of the program's side first lets through what the terminal holds.
    pollfd program{slave_, POLLIN, 0};
    return slave_ >= 0 && ::poll(&program, 1, 0) > 0 && (program.revents & POLLIN) != 0;
}

} // namespace simboard
