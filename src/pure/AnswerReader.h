#pragma once

#include "pure/AnswerLines.h"
#include "pure/ModbusFrame.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quenta {

// A moment on the front end's steady clock, in microseconds. The engine never reads a clock: every
// event tells it when it happened.
using Micros = std::int64_t;

// One answer of a board: its text, in Modbus mode the address it came from, and where and when it
// began: the position among all the characters read of its frame's first character (Modbus) or
// of its first keyword (plain), and the moment of the read that brought that character.
struct Answer {
    std::optional<std::uint8_t> address;
    std::string text;
    std::uint64_t begin = 0;
    Micros beganAt = 0;
};

// What one read of a port held: the answers it completed, in order, and how many things it held
// that looked like an answer but could not be read: in plain mode a line without a keyword, in
// Modbus mode a frame from an accepted address without the answer marker. (Other noise on a
// Modbus line is not told from frames meant for other boards.)
struct Reading {
    std::vector<Answer> answers;
    int unreadable = 0;
};

// Takes answers out of what a port delivers, whatever pieces it comes in: in plain mode a line
// that holds an answer keyword, in Modbus mode a frame with a valid CRC from an accepted address.
// Noise, frames for other addresses and frames with a bad CRC are skipped.
class AnswerReader {
public:
    explicit AnswerReader(bool modbus) : modbus_(modbus) {}

    // The Modbus addresses whose answers are taken.
    void accept(const AddressSet &addresses) { accepted_ = addresses; }

    // One read, and the moment it was made.
    Reading take(std::string_view bytes, Micros now = 0);

    // Forgets what arrived without completing an answer.
    void clear();

    // The characters read so far: an answer that begins below this was under way before now.
    std::uint64_t position() const;

private:
    // The moment of the read that brought the character at `position`.
    Micros readAt(std::uint64_t position) const;
    void forgetReadsBefore(std::uint64_t position);

    bool modbus_;
    AddressSet accepted_;
    AnswerLines lines_;
    ModbusReceiver frames_;
    std::deque<std::pair<std::uint64_t, Micros>> reads_; // each read's first position and moment
};

} // namespace quenta
