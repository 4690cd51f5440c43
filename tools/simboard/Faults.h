#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace simboard {

// The ways a board can misbehave on its line; all off by default.
struct Faults {
    bool splitAnswers = false; // each answer goes out in two pieces, splitDelayMs apart
    int splitDelayMs = 45;
    bool trickle = false;         // answers go out one byte at a time, trickleDelayUs apart
    int trickleDelayUs = 1042;    // the pace of 9600 baud
    bool garbageBefore = false;   // a few noise bytes go out in front of each answer
    unsigned corruptCrcEvery = 0; // Modbus: every Nth answer carries a wrong CRC; 0 never
    bool silent = false;          // commands are taken in, but no answer goes out
    int appearAfterMs = 0;        // the link to the board appears only this long after start
};

// A run of bytes to write, after a pause.
struct Piece {
    std::string bytes;
    std::chrono::microseconds pauseBefore{0};
};

// The noise sent in front of answers: no CR or LF, no letter of any answer keyword.
std::string noiseBytes();

// How one answer goes out under the given faults (all but `silent`, which sends nothing, and
// `appearAfterMs`). `number` counts the answers sent so far, this one included; in Modbus mode the
// answer is a frame whose last two bytes are the CRC.
std::vector<Piece> shapeAnswer(std::string answer, bool modbus, const Faults &faults,
                               std::uint64_t number);

} // namespace simboard
