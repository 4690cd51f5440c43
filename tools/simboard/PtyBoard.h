#pragma once

#include "simboard/Bootloader.h"
#include "simboard/Bus.h"
#include "simboard/Faults.h"
#include "simboard/Terminal.h"
#include "simboard/Wire.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace simboard {

struct Options {
    // One board, or several on one Modbus bus. The first is the one the accessors default to.
    std::vector<BootloaderOptions> boards = {BootloaderOptions{}};
    Faults faults{};
    // Told of every command a board takes, with the answer that goes out (empty when none does),
    // on the board's thread, while the board is locked: it must not call the board.
    std::function<void(const Exchange &)> monitor{};
};

// Simulated boards on a pseudo-terminal: the program under test opens path() as its serial port
// and talks to the bootloaders, which a background thread serves. Every member is thread-safe.
class PtyBoard {
public:
    // Opens the pseudo-terminal. With a link path, path() is a symbolic link to it there; a file
    // that is no symbolic link must not stand in the way. Throws std::system_error when no
    // pseudo-terminal can be had, std::runtime_error when the link path is taken,
    // std::invalid_argument for boards that cannot share a line (see Bus).
    explicit PtyBoard(Options options = {}, std::string linkPath = {});
    ~PtyBoard();

    PtyBoard(const PtyBoard &) = delete;
    PtyBoard &operator=(const PtyBoard &) = delete;

    // Begins to serve and puts the link in place, or only faults.appearAfterMs later. Throws
    // std::filesystem::filesystem_error when the link cannot be made.
    void start();
    // Stops serving; the pseudo-terminal and the link stay until the board is destroyed.
    void stop();

    // The path the program opens: the link if there is one, else the terminal device.
    std::string path() const;
    // The terminal device, /dev/pts/N; while the port is away the one that went away.
    std::string devicePath() const;

    // Every command any board took, in order, Modbus framing stripped, line end kept.
    std::vector<std::string> commands() const;
    // Of the board at this index in Options::boards; throw std::out_of_range for none.
    Memory memory(std::size_t board = 0) const;
    std::uint8_t address(std::size_t board = 0) const;
    // How many times the port went away, by a drop or by vanish().
    int drops() const;

    // Takes effect from the next command on; appearAfterMs only counts at start().
    void setFaults(const Faults &faults);

    // The port goes away as a pulled USB cable: the terminal closes, and its device file and the
    // link are gone when this returns.
    void vanish();
    // The port comes back on a new terminal, the link (if any) pointing to it; the bootloaders
    // keep address, memory and extended address, and lose only the bytes that were on their way,
    // unless faults.swapAfterDrop puts other boards there. Throws as the constructor and start()
    // do.
    void reappear();

private:
    using Clock = std::chrono::steady_clock;
    using Lock = std::unique_lock<std::mutex>;

    // Bytes sent, on their way to the program.
    struct Outgoing {
        std::string bytes;
        Clock::time_point at; // when the program can read them
    };

    void run();
    // Reads what arrived and answers it.
    void serve(Lock &lock, std::uint64_t generation);
    // Records one exchange and answers it unless the answer is kept back; then drops the port if
    // it is due. False when the port went away.
    bool answer(Lock &lock, const Exchange &exchange, std::uint64_t generation);
    // Whether the port goes away after this download line.
    bool dropDue(const Exchange &exchange);
    // Queues an answer, piece by piece, for when the wire lets it; `command` numbers the command
    // it answers.
    void send(const Exchange &exchange, std::uint64_t command);
    // When the adapter hands over what the board sent at `sent`.
    Clock::time_point handOver(Clock::time_point sent) const;
    // Writes, in one piece, the queued bytes that are due by `now` and wait behind none that is
    // not.
    void deliver(Clock::time_point now);
    // Lets the program read the last answer, then takes the port away as a drop does.
    void drop(Lock &lock, std::uint64_t generation);
    // Waits until `until` or until the terminal of `generation` is gone; whether it is still there.
    bool waitUntil(Lock &lock, Clock::time_point until, std::uint64_t generation);
    // Whether the terminal of `generation` is still there to serve.
    bool serving(std::uint64_t generation) const;
    // How long until the thread has something to do without input; none when never.
    std::optional<Clock::duration> pollTimeout(Clock::time_point now) const;
    void disconnect();
    void reconnect();
    // Puts blank boards (faults.swapAfterDrop) in the place of those on the line.
    void swapBoards();
    void wake();

    std::mutex lifecycle_; // orders start() and stop()
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Bus bus_;
    std::vector<BootloaderOptions> boards_; // the boards as they came, for swapBoards()
    Faults faults_;
    std::function<void(const Exchange &)> monitor_;
    Terminal terminal_;
    Wire wire_;
    std::vector<std::string> commands_;
    std::uint64_t generation_ = 0; // counts the terminals the board has had
    std::optional<Clock::time_point> appearAt_;
    std::optional<Clock::time_point> returnAt_; // when a dropped port comes back
    std::optional<Clock::time_point> quietAt_;  // Modbus: when pending input is given up
    Clock::time_point startedAt_{};             // the latency timer ticks from here
    std::deque<Outgoing> outgoing_; // answers on their way: each waits behind those before it
    std::uint64_t answersSent_ = 0;
    int downloadLines_ = 0;
    int drops_ = 0;
    bool stopping_ = false;
    bool polling_ = false;         // the thread polls without the lock
    std::uint64_t pollRounds_ = 0; // counts the thread's returns from poll()
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;
};

} // namespace simboard
