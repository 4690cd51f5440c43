#pragma once

#include "simboard/IntelHex.h"
#include "simulation/Rng.h"

#include <cstdint>
#include <string>
#include <vector>

namespace simulation {

// A HEX record written out, checksum and all.
std::string hexRecord(unsigned type, unsigned offset, const std::vector<std::uint8_t> &data);

// A firmware file: its records, and its image as the board's own reader sees it.
struct Firmware {
    std::vector<std::string> records;
    simboard::Memory image;
    // Whether a board that holds the image answers every record of a verify pass in kind: no
    // record is overwritten by a later one.
    bool verifiable = true;
};

// A small firmware: data records (mostly of 16 bytes each) at scattered places, some behind
// extended address records (linear and segment), one crossing into the next 64 KiB, and the end
// record. Records seldom
// overlap (`overlapChance` for each record that would).
Firmware makeFirmware(Rng &rng, double overlapChance);

// The addresses that record `index` of the file writes, with the records before it in place.
std::vector<std::uint32_t> placementOf(const std::vector<std::string> &records, std::size_t index);

// Whether `memory` holds every byte of `image`.
bool holds(const simboard::Memory &memory, const simboard::Memory &image);

} // namespace simulation
