#include "simulation/Firmware.h"

#include <algorithm>
#include <set>

namespace simulation {
namespace {

std::string hex2(unsigned value) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

// The addresses a data record writes, with the records before it in place.
std::vector<std::uint32_t> placementAfter(const std::vector<std::string> &before,
                                          const std::string &record) {
    simboard::HexPass pass;
    simboard::Memory scratch;
    for (const std::string &line : before) {
        pass.write(scratch, *simboard::parseRecord(line.substr(1)));
    }
    return pass.placement(*simboard::parseRecord(record.substr(1)));
}

// Whether the board, holding the file's image, finds every record of it in place.
bool everyRecordMatches(const std::vector<std::string> &records, const simboard::Memory &image) {
    simboard::HexPass pass;
    for (const std::string &line : records) {
        if (pass.compare(image, *simboard::parseRecord(line.substr(1))) ==
            simboard::HexPass::Result::Mismatch) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string hexRecord(unsigned type, unsigned offset, const std::vector<std::uint8_t> &data) {
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + type;
    std::string text = ":" + hex2(static_cast<unsigned>(data.size())) + hex2(offset >> 8) +
                       hex2(offset & 0xFF) + hex2(type);
    for (const std::uint8_t byte : data) {
        text += hex2(byte);
        sum += byte;
    }
    return text + hex2((0x100 - (sum & 0xFF)) & 0xFF);
}

Firmware makeFirmware(Rng &rng, double overlapChance) {
    Firmware firmware;
    std::set<std::uint32_t> used;
    const int count = rng.between(2, 16);
    // Most files hold records of 16 bytes, as linkers write them.
    const bool even = rng.chance(0.6);
    for (int i = 0; i < count; ++i) {
        std::vector<std::string> lines;
        if (rng.chance(0.15)) {
            const unsigned upper = static_cast<unsigned>(rng.between(0, 2));
            lines.push_back(rng.chance(0.7)
                                ? hexRecord(0x04, 0, {0, static_cast<std::uint8_t>(upper)})
                                : hexRecord(0x02, 0, {static_cast<std::uint8_t>(upper << 4), 0}));
        }
        std::vector<std::uint8_t> data(static_cast<std::size_t>(even ? 16 : rng.between(1, 16)));
        for (std::uint8_t &byte : data) {
            byte = static_cast<std::uint8_t>(rng.below(256));
        }
        const unsigned offset =
            rng.chance(0.1) ? 0xFFF8u : static_cast<unsigned>(rng.below(64)) * 16u;
        lines.push_back(hexRecord(0x00, offset, data));
        std::vector<std::string> before = firmware.records;
        before.insert(before.end(), lines.begin(), lines.end() - 1);
        const auto places = placementAfter(before, lines.back());
        const bool overlaps = std::any_of(places.begin(), places.end(),
                                          [&used](std::uint32_t at) { return used.count(at); });
        if (overlaps && !rng.chance(overlapChance)) {
            continue;
        }
        used.insert(places.begin(), places.end());
        firmware.records.insert(firmware.records.end(), lines.begin(), lines.end());
    }
    firmware.records.push_back(":00000001FF");
    std::string text;
    for (const std::string &line : firmware.records) {
        text += line + "\r\n";
    }
    firmware.image = simboard::readHexImage(text).memory;
    firmware.verifiable = everyRecordMatches(firmware.records, firmware.image);
    return firmware;
}

std::vector<std::uint32_t> placementOf(const std::vector<std::string> &records, std::size_t index) {
    return placementAfter({records.begin(), records.begin() + static_cast<std::ptrdiff_t>(index)},
                          records[index]);
}

bool holds(const simboard::Memory &memory, const simboard::Memory &image) {
    for (const auto &[address, byte] : image) {
        const auto held = memory.find(address);
        if ((held == memory.end() ? simboard::kErased : held->second) != byte) {
            return false;
        }
    }
    return true;
}

} // namespace simulation
