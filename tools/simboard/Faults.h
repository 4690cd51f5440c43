#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
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
    bool bareFrames = false;      // Modbus: answer frames carry no CR LF before their CRC
    bool silent = false;          // commands are taken in, but no answer goes out
    int appearAfterMs = 0;        // the link to the board appears only this long after start
    int dropAfterLine = 0; // the port goes away right after the board answered its Nth download
                           // line, counted over the board's life, once; 0 never
    int dropForMs = -1;    // after a drop the port comes back under the same link this much
                           // later; < 0 never
    int loseRecords = 0;   // at the drop every board forgets the last K download records it
                           // acknowledged: their bytes revert to what they held
    std::set<std::uint64_t> withhold{}; // the commands (numbered from 1 over every command the
                                        // boards took) whose answer is lost on the line
    int baud = 0; // an answer goes out only once command and answer would have crossed a wire at
                  // this speed, 10 bits a byte; 0 no pacing
    int resetAtLine = 0; // the port goes away, as at dropAfterLine, right after a board answered
                         // the Nth download line of a pass (counted since the last end record or
                         // reboot: Exchange::passLine), every time; 0 never
    std::optional<std::string> swapAfterDrop{}; // when the port comes back, a blank board of this
                                                // version stands behind it (blankBoard)
    int latencyMs = 0; // as an adapter's latency timer: what the boards send is handed over only
                       // at the next tick of this many ms, counted from start(); 0 at once
    std::map<std::uint64_t, int> lateMs{}; // command (numbered as for withhold) -> how many ms
                                           // late its answer goes out; the answers after it wait
                                           // behind it
};

// A run of bytes to write, after a pause.
struct Piece {
    std::string bytes;
    std::chrono::microseconds pauseBefore{0};
};

// The noise sent in front of answers: no CR or LF, no letter of any answer keyword.
std::string noiseBytes();

// How one answer goes out under the faults that shape answers: split, trickle, garbage and
// corrupt CRC. `number` counts the answers sent so far, this one included; in Modbus mode the
// answer is a frame whose last two bytes are the CRC.
std::vector<Piece> shapeAnswer(std::string answer, bool modbus, const Faults &faults,
                               std::uint64_t number);

} // namespace simboard
