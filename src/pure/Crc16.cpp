#include "pure/Crc16.h"

namespace quenta {

std::uint16_t crc16Update(std::uint16_t reg, char c) {
    reg ^= static_cast<unsigned char>(c);
    for (int bit = 0; bit < 8; ++bit) {
        const bool lowBit = (reg & 1U) != 0;
        reg >>= 1;
        if (lowBit) {
            reg ^= 0xA001;
        }
    }
    return reg;
}

std::uint16_t crc16Register(std::string_view bytes) {
    std::uint16_t reg = 0xFFFF;
    for (const char c : bytes) {
        reg = crc16Update(reg, c);
    }
    return reg;
}

std::string CRC16(std::string_view sString) {
    const std::uint16_t reg = crc16Register(sString);
    return {static_cast<char>(reg & 0xFF), static_cast<char>(reg >> 8)};
}

} // namespace quenta
