#pragma once

#include "simboard/IntelHex.h"
#include "simboard/Journal.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simboard {

struct BootloaderOptions {
    bool modbus = false;             // commands and answers travel in Modbus RTU frames
    std::uint8_t address = 1;        // the Modbus address the board answers to
    std::string version = "4.1";     // the identification answer is "VER=" + version + CR LF
    Memory memory{};                 // what the memory holds before any download
    bool verifyReportsAtEnd = false; // every verify line answers OK; the end record of a verify
                                     // pass answers ERROR instead of DOWNLOAD when a line of that
                                     // pass differed
};

// A board fresh from the factory in the place of `like`: same framing, address and habits, blank
// memory, and this version.
BootloaderOptions blankBoard(BootloaderOptions like, std::string version);

// One command the board took, with what it sends back.
struct Exchange {
    std::string command; // the command line as received, Modbus framing stripped, line end kept
    std::string answer;  // the bytes that go out for it, framed in Modbus mode
    std::uint64_t position = 0; // where its first byte stands among all bytes received, from 0
    std::size_t length = 0;     // the bytes it took on the line, framing included
    bool downloadLine = false;  // a download line ("BOOT:" and a record)
    std::size_t passLine = 0;   // a download line: its number, from 1, among the download lines
                                // since the last end record or reboot; 0 for other commands
};

// The bootloader of a board, without any input or output of its own: it is fed the bytes the
// board receives and hands back the answers to send.
//
// Plain mode: the input is split at line ends (CR LF or LF). Modbus mode: a frame is an address
// byte, the command line with its CR LF, and the CRC-16 over both, low byte first; a frame for this
// board starts with its address and ends where a CR LF is followed by the two bytes of a valid CRC
// over everything from the frame's start. Bytes in front of such a frame are dropped with it;
// frames for another address and bytes that make no frame get no answer and wait until a frame
// for this board or dropInput() takes them away. An answer goes out as address byte, "B", answer
// text and CRC-16.
class Bootloader {
public:
    explicit Bootloader(BootloaderOptions options = {});

    // Takes received bytes; returns one exchange for each command they complete, in order.
    std::vector<Exchange> receive(std::string_view bytes);

    // Whether received bytes wait that complete no command yet.
    bool inputPending() const { return !input_.empty(); }

    // The position, among all bytes received, of the first byte still waiting (or of the next
    // byte to come when none waits).
    std::uint64_t inputStart() const { return consumed_; }

    // Forgets the bytes that complete no command: in Modbus mode what remains when the line has
    // gone quiet, and whatever was on its way when the connection broke.
    void dropInput();

    // Starts again as after a power failure: the last `lost` acknowledged download records are
    // undone (as far as they are remembered), the extended address is back to 0, a pass under way
    // (its line count, a verify difference kept for its end) is over, and whatever was on its
    // way is gone. Address and the rest of memory stay.
    void reboot(std::size_t lost);

    // How many acknowledged download records a reboot can undo.
    void rememberRecords(std::size_t count) { journal_.setDepth(count); }

    const Memory &memory() const { return options_.memory; }
    std::uint8_t address() const { return options_.address; }
    bool modbus() const { return options_.modbus; }

private:
    std::vector<Exchange> takeLines();
    std::vector<Exchange> takeFrames();
    struct Span {
        std::size_t start = 0;
        std::size_t end = 0;
    };
    // The first complete frame in the input.
    std::optional<Span> findFrame();
    // Removes `count` bytes from the front of the input.
    void consume(std::size_t count);
    Exchange take(std::string line, std::uint64_t position, std::size_t length);
    std::string answerTo(std::string_view text);
    std::string record(std::string_view digits, bool compare);
    // Closes the pass at its end record.
    std::string endPass(bool compare);
    std::string setAddress(std::string_view digits);

    BootloaderOptions options_;
    std::string input_;
    std::uint64_t consumed_ = 0; // bytes received and taken out of the input
    std::size_t nextEnd_ = 0;    // Modbus: frame ends below this were examined and found none
    HexPass pass_;
    std::size_t passLines_ = 0;   // download lines since the last end record or reboot
    bool verifyDiffered_ = false; // verifyReportsAtEnd: a line of this verify pass differed
    Journal journal_;
};

} // namespace simboard
