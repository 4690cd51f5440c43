#include "simboard/PtyBoard.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace simboard {
namespace {

// A Modbus line that stays quiet this long ends whatever was on its way.
constexpr std::chrono::milliseconds kQuietGap{20};

// Before a drop, the program gets this long to read the last answer, looked at this often.
constexpr std::chrono::milliseconds kLastReadLimit{100};
constexpr std::chrono::milliseconds kLastReadStep{1};

void report(const std::exception &error) {
    std::fprintf(stderr, "simboard: %s\n", error.what());
}

} // namespace

PtyBoard::PtyBoard(Options options, std::string linkPath)
    : bus_(options.boards), boards_(std::move(options.boards)), faults_(std::move(options.faults)),
      monitor_(std::move(options.monitor)), terminal_(std::move(linkPath)) {
    std::array<int, 2> wake{};
    if (::pipe2(wake.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    wire_.setBaud(faults_.baud);
    bus_.rememberRecords(static_cast<std::size_t>(std::max(faults_.loseRecords, 0)));
}

PtyBoard::~PtyBoard() {
    stop();
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void PtyBoard::start() {
    const std::lock_guard life(lifecycle_);
    if (thread_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        stopping_ = false;
        startedAt_ = Clock::now();
        if (faults_.appearAfterMs > 0 && terminal_.hasLink()) {
            appearAt_ = Clock::now() + std::chrono::milliseconds(faults_.appearAfterMs);
        } else {
            terminal_.showLink();
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
    return terminal_.path();
}

std::string PtyBoard::devicePath() const {
    const std::lock_guard lock(mutex_);
    return terminal_.device();
}

std::vector<std::string> PtyBoard::commands() const {
    const std::lock_guard lock(mutex_);
    return commands_;
}

Memory PtyBoard::memory(std::size_t board) const {
    const std::lock_guard lock(mutex_);
    return bus_.board(board).memory();
}

std::uint8_t PtyBoard::address(std::size_t board) const {
    const std::lock_guard lock(mutex_);
    return bus_.board(board).address();
}

int PtyBoard::drops() const {
    const std::lock_guard lock(mutex_);
    return drops_;
}

void PtyBoard::setFaults(const Faults &faults) {
    const std::lock_guard lock(mutex_);
    faults_ = faults;
    wire_.setBaud(faults_.baud);
    bus_.rememberRecords(static_cast<std::size_t>(std::max(faults_.loseRecords, 0)));
}

void PtyBoard::vanish() {
    Lock lock(mutex_);
    if (!terminal_.isOpen()) {
        return;
    }
    bus_.dropInput();
    disconnect();
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
        reconnect();
    }
    wake();
}

void PtyBoard::run() {
    // Answers are due to the microsecond on a fast wire: no slack on this thread's timers.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    Lock lock(mutex_);
    while (!stopping_) {
        const auto now = Clock::now();
        try {
            if (appearAt_ && now >= *appearAt_) {
                appearAt_.reset();
                terminal_.showLink();
            }
            if (returnAt_ && now >= *returnAt_) {
                returnAt_.reset();
                reconnect();
            }
        } catch (const std::exception &error) {
            report(error);
        }
        if (quietAt_ && now >= *quietAt_) {
            quietAt_.reset();
            bus_.dropInput();
        }
        deliver(now);
        const std::uint64_t generation = generation_;
        std::array<pollfd, 2> fds{{{wakeRead_, POLLIN, 0}, {terminal_.fd(), POLLIN, 0}}};
        const auto timeout = pollTimeout(Clock::now());
        timespec wait{};
        if (timeout) {
            const auto seconds = std::chrono::floor<std::chrono::seconds>(*timeout);
            wait = {static_cast<time_t>(seconds.count()),
                    static_cast<long>(std::chrono::nanoseconds(*timeout - seconds).count())};
        }
        polling_ = true;
        lock.unlock();
        ::ppoll(fds.data(), fds.size(), timeout ? &wait : nullptr, nullptr);
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

void PtyBoard::serve(Lock &lock, std::uint64_t generation) {
    const std::string bytes = terminal_.read();
    if (bytes.empty()) {
        return;
    }
    // Taken after the read, so that no byte counts as having come before it did.
    wire_.received(bytes.size(), Clock::now());
    const std::vector<Exchange> exchanges = bus_.receive(bytes);
    quietAt_.reset();
    if (bus_.modbus() && bus_.inputPending()) {
        quietAt_ = Clock::now() + kQuietGap;
    }
    for (const Exchange &exchange : exchanges) {
        if (!answer(lock, exchange, generation)) {
            return;
        }
    }
    wire_.forgetBefore(bus_.inputStart());
}

bool PtyBoard::answer(Lock &lock, const Exchange &exchange, std::uint64_t generation) {
    commands_.push_back(exchange.command);
    const bool answered = !faults_.silent && !faults_.withhold.contains(commands_.size());
    if (monitor_) {
        Exchange told = exchange;
        if (!answered) {
            told.answer.clear();
        }
        monitor_(told);
    }
    if (answered) {
        send(exchange, commands_.size());
    } else {
        wire_.cross(wire_.arrivalOf(exchange.position), exchange.length);
    }
    if (exchange.downloadLine && dropDue(exchange)) {
        drop(lock, generation);
        return false;
    }
    return true;
}

bool PtyBoard::dropDue(const Exchange &exchange) {
    const bool dropAfter = ++downloadLines_ == faults_.dropAfterLine;
    return dropAfter || (faults_.resetAtLine > 0 &&
                         exchange.passLine == static_cast<std::size_t>(faults_.resetAtLine));
}

void PtyBoard::send(const Exchange &exchange, std::uint64_t command) {
    const std::vector<Piece> pieces =
        shapeAnswer(exchange.answer, bus_.modbus(), faults_, ++answersSent_);
    std::size_t bytes = exchange.length;
    for (const Piece &piece : pieces) {
        bytes += piece.bytes.size();
    }
    auto due = std::max(wire_.cross(wire_.arrivalOf(exchange.position), bytes), Clock::now());
    if (const auto late = faults_.lateMs.find(command); late != faults_.lateMs.end()) {
        due += std::chrono::milliseconds(late->second);
    }
    for (const Piece &piece : pieces) {
        due += piece.pauseBefore;
        outgoing_.push_back({piece.bytes, handOver(due)});
    }
    wire_.takenUntil(due);
}

PtyBoard::Clock::time_point PtyBoard::handOver(Clock::time_point sent) const {
    if (faults_.latencyMs <= 0 || sent <= startedAt_) {
        return sent;
    }
    const Clock::duration tick = std::chrono::milliseconds(faults_.latencyMs);
    const auto ticks = (sent - startedAt_ + tick - Clock::duration(1)) / tick;
    return startedAt_ + ticks * tick;
}

void PtyBoard::deliver(Clock::time_point now) {
    std::string bytes;
    while (!outgoing_.empty() && outgoing_.front().at <= now) {
        bytes += outgoing_.front().bytes;
        outgoing_.pop_front();
    }
    if (!bytes.empty() && terminal_.isOpen()) {
        terminal_.write(bytes);
    }
}

void PtyBoard::drop(Lock &lock, std::uint64_t generation) {
    while (!outgoing_.empty()) {
        if (!waitUntil(lock, outgoing_.front().at, generation)) {
            return;
        }
        deliver(Clock::now());
    }
    const auto limit = Clock::now() + kLastReadLimit;
    while (terminal_.unread() && Clock::now() < limit) {
        if (!waitUntil(lock, Clock::now() + kLastReadStep, generation)) {
            return;
        }
    }
    bus_.reboot(static_cast<std::size_t>(std::max(faults_.loseRecords, 0)));
    disconnect();
    if (faults_.dropForMs >= 0) {
        returnAt_ = Clock::now() + std::chrono::milliseconds(faults_.dropForMs);
    }
}

bool PtyBoard::waitUntil(Lock &lock, Clock::time_point until, std::uint64_t generation) {
    changed_.wait_until(lock, until, [&] { return !serving(generation); });
    return serving(generation);
}

bool PtyBoard::serving(std::uint64_t generation) const {
    return !stopping_ && generation == generation_ && terminal_.isOpen();
}

std::optional<PtyBoard::Clock::duration> PtyBoard::pollTimeout(Clock::time_point now) const {
    std::optional<Clock::time_point> next;
    const std::optional<Clock::time_point> output =
        outgoing_.empty() ? std::nullopt : std::optional(outgoing_.front().at);
    for (const auto &due : {appearAt_, returnAt_, quietAt_, output}) {
        if (due && (!next || *due < *next)) {
            next = due;
        }
    }
    if (!next) {
        return std::nullopt;
    }
    return std::max(*next - now, Clock::duration::zero());
}

void PtyBoard::disconnect() {
    terminal_.close();
    appearAt_.reset();
    quietAt_.reset();
    outgoing_.clear();
    ++generation_;
    ++drops_;
    changed_.notify_all();
    wake();
}

void PtyBoard::reconnect() {
    if (terminal_.isOpen()) {
        return;
    }
    terminal_.open();
    ++generation_;
    if (faults_.swapAfterDrop) {
        swapBoards();
    }
    terminal_.showLink();
}

void PtyBoard::swapBoards() {
    std::vector<BootloaderOptions> blank;
    for (const BootloaderOptions &board : boards_) {
        blank.push_back(blankBoard(board, *faults_.swapAfterDrop));
    }
    bus_ = Bus(std::move(blank));
    bus_.rememberRecords(static_cast<std::size_t>(std::max(faults_.loseRecords, 0)));
    // Positions count the new boards' bytes from 0.
    wire_ = Wire{};
    wire_.setBaud(faults_.baud);
}

void PtyBoard::wake() {
    // A full pipe wakes the thread all the same.
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, "", 1);
}

} // namespace simboard
