#pragma once

#include <string>
#include <string_view>

namespace simboard {

// The board's end of its line: a pseudo-terminal in raw mode whose other end, /dev/pts/N, the
// program opens, and optionally a symbolic link that names it. Not thread-safe.
class Terminal {
public:
    // Opens a terminal. Throws std::runtime_error when a file that is no symbolic link stands at
    // the link path, std::system_error when no pseudo-terminal can be had.
    explicit Terminal(std::string link);
    ~Terminal();

    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // Opens a new terminal if none is open; throws as the constructor does.
    void open();
    // Closes the terminal and removes the link: its device file is gone as a pulled USB cable's.
    void close();
    bool isOpen() const { return master_ >= 0; }

    // Points the link, if any, to the terminal, never leaving it dangling in between. Throws
    // std::filesystem::filesystem_error.
    void showLink() const;

    bool hasLink() const { return !link_.empty(); }
    // The link if there is one, else the terminal device.
    std::string path() const { return link_.empty() ? device_ : link_; }
    // The terminal device, /dev/pts/N; after close() the one that went away.
    const std::string &device() const { return device_; }
    // The board's side, to poll for input; -1 while closed.
    int fd() const { return master_; }

    // What the program wrote and the board has not read yet; never blocks.
    std::string read() const;
    // Bytes that find the program's input full are lost, as on a line nobody listens to.
    void write(std::string_view bytes) const;
    // Whether bytes the board wrote wait for the program to read them, those still on their way
    // through the terminal included.
    bool unread() const;

private:
    void removeLink() const;

    std::string link_;
    std::string device_;
    int master_ = -1;
    int slave_ = -1; // kept open, never read: the master never reads EIO
};

} // namespace simboard
