#pragma once

#include "pure/ModbusFrame.h"
#include "pure/PlainAnswer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// One answer of a board: its text, and in Modbus mode the address it came from.
struct Answer {
    std::optional<std::uint8_t> address;
    std::string text;
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

    Reading take(std::string_view bytes);

    // Forgets what arrived without completing an answer.
    void clear();

private:
    bool modbus_;
    AddressSet accepted_;
    AnswerLines lines_;
    ModbusReceiver frames_;
};

} // namespace quenta
