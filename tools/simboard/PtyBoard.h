#pragma once

#include "simboard/Bootloader.h"
#include "simboard/Faults.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace simboard {

struct Options {
    BootloaderOptions bootloader{};
    Faults faults{};
    // Told of every command the board takes, on the board's thread, while the board is locked: it
    // must not call the board.
    std::function<void(const Exchange &)> monitor{};
};

// A simulated board on a pseudo-terminal: the program under test opens path() as its serial port
// and talks to the Bootloader, which a background thread serves. Every member is thread-safe.
class PtyBoard {
public:
    // Opens the pseudo-terminal. With a link path, path() is a symbolic link to it there; a file
    // that is no symbolic link must not stand in the way. Throws std::system_error when no
    // pseudo-terminal can be had, std::runtime_error when the link path is taken.
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
    // The terminal device, /dev/pts/N; after vanish() the one that went away.
    std::string devicePath() const;

    std::vector<std::string> commands() const;
    std::string rawReceived() const;
    Memory memory() const;
    std::uint8_t address() const;

    // Takes effect from the next answer on; appearAfterMs only counts at start().
    void setFaults(const Faults &faults);

    // The board goes away as a pulled USB cable: the terminal closes, and its device file and the
    // link are gone when this returns.
    void vanish();
    // The board comes back on a new terminal, the link (if any) pointing to it; the bootloader
    // keeps its address and memory, and loses only the bytes that were on their way. Throws as
    // the constructor and start() do.
    void reappear();

private:
    using Clock = std::chrono::steady_clock;

    void run();
    // Reads what arrived and answers it.
    void serve(std::unique_lock<std::mutex> &lock, std::uint64_t generation);
    // Sends one answer, piece by piece; gives up when the terminal goes away meanwhile.
    void send(std::unique_lock<std::mutex> &lock, const std::string &answer,
              std::uint64_t generation);
    // Whether the terminal of `generation` is still there to serve.
    bool serving(std::uint64_t generation) const;
    // Milliseconds until the thread has something to do without input; -1 when never.
    int pollTimeout(Clock::time_point now) const;
    // Points the link, if any, to the terminal.
    void showLink();
    void removeLink() const;
    void openTerminal();
    void closeTerminal();
    void wake();

    std::mutex lifecycle_; // orders start() and stop()
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Bootloader bootloader_;
    Faults faults_;
    std::function<void(const Exchange &)> monitor_;
    std::string link_;
    std::string device_;
    int master_ = -1;
    int slave_ = -1;               // kept open, never read: the master never reads EIO
    std::uint64_t generation_ = 0; // counts the terminals the board has had
    std::optional<Clock::time_point> appearAt_;
    std::optional<Clock::time_point> quietAt_; // Modbus: when pending input is given up
    std::uint64_t answersSent_ = 0;
    std::string raw_;
    bool stopping_ = false;
    bool polling_ = false;         // the thread polls without the lock
    std::uint64_t pollRounds_ = 0; // counts the thread's returns from poll()
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;
};

} // namespace simboard
