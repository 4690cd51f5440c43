#pragma once

#include "pure/ModbusFrame.h"
#include "pure/PlainAnswer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenta::flash {

// One answer of a board: its text, and in Modbus mode the address it came from.
struct Answer {
    std::optional<std::uint8_t> address;
    std::string text;
};

// Takes answers out of what a port delivers, whatever pieces it comes in: in plain mode a line
// that holds an answer keyword, in Modbus mode a frame with a valid CRC from an accepted address.
// Noise, frames for other addresses and frames with a bad CRC are skipped.
class AnswerReader {
public:
    explicit AnswerReader(bool modbus) : modbus_(modbus) {}

    // The Modbus addresses whose answers are taken.
    void accept(const AddressSet &addresses) { accepted_ = addresses; }

    std::vector<Answer> take(std::string_view bytes);

    // Forgets what arrived without completing an answer.
    void clear();

private:
    bool modbus_;
    AddressSet accepted_;
    AnswerLines lines_;
    ModbusReceiver frames_;
};

} // namespace quenta::flash
