#include "simboard/PtyBoard.h"

#include <array>
#include <cerrno>
#include <cstdio>
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

// A Modbus line that stays quiet this long ends whatever was on its way.
constexpr std::chrono::milliseconds kQuietGap{20};

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

std::string readAvailable(int fd) {
    std::string bytes;
    std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count > 0) {
            bytes.append(buffer.data(), static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            return bytes;
        }
    }
}

// Bytes that find the terminal's input full are lost, as on a line nobody listens to.
void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            return;
        }
    }
}

} // namespace

PtyBoard::PtyBoard(Options options, std::string linkPath)
    : bootloader_(std::move(options.bootloader)), faults_(options.faults),
      monitor_(std::move(options.monitor)), link_(std::move(linkPath)) {
    if (!link_.empty()) {
        std::error_code error;
        const auto status = fs::symlink_status(link_, error);
        if (fs::exists(status) && !fs::is_symlink(status)) {
            throw std::runtime_error(link_ + " exists and is no symbolic link");
        }
    }
    std::array<int, 2> wake{};
    if (::pipe2(wake.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
        throwErrno("pipe2");
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    try {
        openTerminal();
    } catch (...) {
        closeFd(wakeRead_);
        closeFd(wakeWrite_);
        throw;
    }
}

PtyBoard::~PtyBoard() {
    stop();
    closeTerminal();
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
}

void PtyBoard::start() {
    const std::lock_guard life(lifecycle_);
    if (thread_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        stopping_ = false;
        if (faults_.appearAfterMs > 0 && !link_.empty()) {
            appearAt_ = Clock::now() + std::chrono::milliseconds(faults_.appearAfterMs);
        } else {
            showLink();
        }
    }
    thread_ = std::thread([this] { run(); });
}

void PtyBoard::stop() {
    const std::lock_guard life(lifecycle_);
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    wake();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::string PtyBoard::path() const {
    const std::lock_guard lock(mutex_);
    return link_.empty() ? device_ : link_;
}

std::string PtyBoard::devicePath() const {
    const std::lock_guard lock(mutex_);
    return device_;
}

std::vector<std::string> PtyBoard::commands() const {
    const std::lock_guard lock(mutex_);
    return bootloader_.commands();
}

std::string PtyBoard::rawReceived() const {
    const std::lock_guard lock(mutex_);
    return raw_;
}

Memory PtyBoard::memory() const {
    const std::lock_guard lock(mutex_);
    return bootloader_.memory();
}

std::uint8_t PtyBoard::address() const {
    const std::lock_guard lock(mutex_);
    return bootloader_.address();
}

void PtyBoard::setFaults(const Faults &faults) {
    const std::lock_guard lock(mutex_);
    faults_ = faults;
}

void PtyBoard::vanish() {
    std::unique_lock lock(mutex_);
    if (master_ < 0) {
        return;
    }
    closeTerminal();
    appearAt_.reset();
    quietAt_.reset();
    bootloader_.dropInput();
    ++generation_;
    changed_.notify_all();
    wake();
    // A poll() under way holds on to the terminal, and with it to its device file: the terminal is
    // gone only once the thread is back from it.
    if (polling_) {
        const std::uint64_t round = pollRounds_;
        changed_.wait(lock, [&] { return pollRounds_ != round; });
    }
}

void PtyBoard::reappear() {
    {
        const std::lock_guard lock(mutex_);
        if (master_ >= 0) {
            return;
        }
        openTerminal();
        ++generation_;
        showLink();
    }
    wake();
}

void PtyBoard::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const auto now = Clock::now();
        if (appearAt_ && now >= *appearAt_) {
            appearAt_.reset();
            try {
                showLink();
            } catch (const fs::filesystem_error &error) {
                std::fprintf(stderr, "simboard: %s\n", error.what());
            }
        }
        if (quietAt_ && now >= *quietAt_) {
            quietAt_.reset();
            bootloader_.dropInput();
        }
        const std::uint64_t generation = generation_;
        std::array<pollfd, 2> fds{{{wakeRead_, POLLIN, 0}, {master_, POLLIN, 0}}};
        const int timeout = pollTimeout(now);
        polling_ = true;
        lock.unlock();
        ::poll(fds.data(), fds.size(), timeout);
        std::array<char, 64> drained{};
        while (::read(wakeRead_, drained.data(), drained.size()) > 0) {
        }
        lock.lock();
        polling_ = false;
        ++pollRounds_;
        changed_.notify_all();
        if ((fds[1].revents & POLLIN) != 0 && serving(generation)) {
            serve(lock, generation);
        }
    }
}

void PtyBoard::serve(std::unique_lock<std::mutex> &lock, std::uint64_t generation) {
    const std::string bytes = readAvailable(master_);
    if (bytes.empty()) {
        return;
    }
    raw_ += bytes;
    const std::vector<Exchange> exchanges = bootloader_.receive(bytes);
    if (bootloader_.modbus() && bootloader_.inputPending()) {
        quietAt_ = Clock::now() + kQuietGap;
    } else {
        quietAt_.reset();
    }
    for (const Exchange &exchange : exchanges) {
        if (monitor_) {
            monitor_(exchange);
        }
        if (!faults_.silent) {
            send(lock, exchange.answer, generation);
        }
        if (!serving(generation)) {
            return;
        }
    }
}

void PtyBoard::send(std::unique_lock<std::mutex> &lock, const std::string &answer,
                    std::uint64_t generation) {
    const auto pieces = shapeAnswer(answer, bootloader_.modbus(), faults_, ++answersSent_);
    for (const Piece &piece : pieces) {
        if (piece.pauseBefore.count() > 0) {
            changed_.wait_for(lock, piece.pauseBefore, [&] { return !serving(generation); });
        }
        if (!serving(generation)) {
            return;
        }
        writeAll(master_, piece.bytes);
    }
}

bool PtyBoard::serving(std::uint64_t generation) const {
    return !stopping_ && generation == generation_ && master_ >= 0;
}

int PtyBoard::pollTimeout(Clock::time_point now) const {
    std::optional<Clock::time_point> next = appearAt_;
    if (quietAt_ && (!next || *quietAt_ < *next)) {
        next = quietAt_;
    }
    if (!next) {
        return -1;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
}

void PtyBoard::showLink() {
    if (link_.empty() || master_ < 0) {
        return;
    }
    // The new link takes the place of the old one at once: the path never dangles in between.
    const std::string temporary = link_ + ".new";
    std::error_code ignored;
    fs::remove(temporary, ignored);
    fs::create_symlink(device_, temporary);
    fs::rename(temporary, link_);
}

void PtyBoard::removeLink() const {
    std::error_code error;
    if (!link_.empty() && fs::is_symlink(fs::symlink_status(link_, error))) {
        fs::remove(link_, error);
    }
}

void PtyBoard::openTerminal() {
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

void PtyBoard::closeTerminal() {
    closeFd(master_);
    closeFd(slave_);
    removeLink();
}

void PtyBoard::wake() {
    // A full pipe wakes the thread all the same.
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, "", 1);
}

} // namespace simboard
