#include "simboard/Crc.h"

namespace simboard {

std::uint16_t crc16(std::string_view bytes) {
    unsigned crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xA001U : crc >> 1;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

std::string withCrc(std::string body) {
    const std::uint16_t crc = crc16(body);
    body += static_cast<char>(crc & 0xFF);
    body += static_cast<char>(crc >> 8);
    return body;
}

} // namespace simboard
