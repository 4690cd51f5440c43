#pragma once

#include "simulation/Rng.h"

#include <cstddef>
#include <string>
#include <vector>

// Bytes on their way from the board to the host, and what they carry.
namespace simulation {

// Noise on a line: no line end, no letter of an answer keyword, and (Modbus) never the board's
// address.
std::string noise(Rng &rng, char address);

// Bytes as a trace shows them: printable characters, the rest as \xHH.
std::string printable(const std::string &bytes);

// Where an answer's keyword (plain) or frame (Modbus) begins in its bytes.
std::size_t keywordOffset(const std::string &bytes, bool modbus);

// The keyword of one of the board's answer texts: "OK", "DOWNLOAD", "ERROR", or the whole
// "VER=..." text; empty when it holds none.
std::string keywordOf(const std::string &text);

// Something in a delivery that the host may take for an answer: where it begins and ends.
struct Piece {
    int item = -1;
    std::size_t begin = 0; // its first keyword byte (plain) or frame byte (Modbus)
    std::size_t last = 0;  // its last byte
};

// Bytes the board puts on the line in one go.
struct Delivery {
    // Plain mode: the host takes a thing whole at its first line end; Modbus: at its last byte.
    explicit Delivery(bool byLines) : byLines(byLines) {}

    void add(const std::string &more, int item, std::size_t beginOffset);

    bool byLines;
    std::string bytes;
    std::vector<Piece> pieces;
};

// A piece of a delivery that reaches the host at one moment: the things it begins and completes.
struct Chunk {
    std::string bytes;
    std::vector<int> begins;
    std::vector<int> ends;
};

} // namespace simulation
