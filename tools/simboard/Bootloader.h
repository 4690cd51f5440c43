#pragma once

#include "simboard/IntelHex.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simboard {

struct BootloaderOptions {
    bool modbus = false;         // commands and answers travel in Modbus RTU frames
    std::uint8_t address = 1;    // the Modbus address the board answers to
    std::string version = "4.1"; // the identification answer is "VER=" + version + CR LF
    Memory memory{};             // what the memory holds before any download
};

// One command the board took, with what it sends back.
struct Exchange {
    std::string command; // the command line as received, Modbus framing stripped, line end kept
    std::string answer;  // the bytes that go out for it, framed in Modbus mode
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

    // Forgets the bytes that complete no command: in Modbus mode what remains when the line has
    // gone quiet, and whatever was on its way when the connection broke.
    void dropInput();

    // Every command line taken so far, in order, Modbus framing stripped, line end kept.
    const std::vector<std::string> &commands() const { return commands_; }

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
    Exchange take(std::string line);
    std::string answerTo(std::string_view text);
    std::string record(std::string_view digits, bool compare);
    std::string setAddress(std::string_view digits);

    BootloaderOptions options_;
    std::string input_;
    std::size_t nextEnd_ = 0; // Modbus: frame ends below this were examined and found none
    std::vector<std::string> commands_;
    HexPass pass_;
};

} // namespace simboard
