#pragma once

#include "pure/AnswerLines.h"
#include "pure/ModbusFrame.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// One answer of a board: its text, in Modbus mode the address it came from, and where it began: the
// position among all the characters read of its frame's first character (Modbus) or of its first
// keyword (plain).
struct Answer {
    std::optional<std::uint8_t> address;
    std::string text;
    std::uint64_t begin = 0;
};

// What one read of a port held: the answers it completed, in order, and how many things it held
// that looked like an answer but could not be read: in plain mode a line without a keyword, in
// Modbus mode a frame from an accepted address without the answer marker. (Other noise on a
// Modbus line is not told from frames meant for other boards.)
struct Reading {
    std::vector<Answer> answers;
    int unreadable = 0;
};

// A plain answer without its line end is taken, once the line is quiet, only from this many
// characters on: a read of fewer is no answer.
inline constexpr std::size_t kShortestLooseAnswer = 4;

// How long a front end that reads as characters come lets the line stay quiet before it takes an
// answer whose end did not come (see AnswerReader::flush). A front end that polls takes it at the
// first poll that reads nothing.
inline constexpr int kLooseAnswerQuietMs = 40;

// Takes answers out of what a port delivers, whatever pieces it comes in: in plain mode a line
// that holds an answer keyword, in Modbus mode a frame with a valid CRC from an accepted address.
// Noise, frames for other addresses and frames with a bad CRC are skipped. An answer that never
// gets its line end (plain) or whose frame carries none (Modbus) is taken by flush() once the
// front end finds the line quiet.
class AnswerReader {
public:
    explicit AnswerReader(bool modbus) : modbus_(modbus) {}

    // The Modbus addresses whose answers are taken.
    void accept(const AddressSet &addresses) { accepted_ = addresses; }

    // One read.
    Reading take(std::string_view bytes);

    // The line is quiet: what arrived since the last complete answer is taken as an answer if it
    // can be one (plain: kShortestLooseAnswer characters or more, holding a keyword; Modbus: a
    // whole frame without its line end).
    Reading flush();
    // Whether flush() may take something: an answer may be waiting for the quiet.
    bool pending() const;

    // Forgets what arrived without completing an answer.
    void clear();

    // The characters read so far: an answer that begins below this was under way before now.
    std::uint64_t position() const;

private:
    static void takeLine(Line &line, Reading &reading);
    static void takeFrame(ModbusEvent &event, Reading &reading);

    bool modbus_;
    AddressSet accepted_;
    AnswerLines lines_;
    ModbusReceiver frames_;
};

} // namespace quenta
