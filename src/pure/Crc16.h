#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quenta {

// One character fed into the CRC-16 register.
std::uint16_t crc16Update(std::uint16_t reg, char c);

// Modbus RTU CRC-16 register over a byte string (initial 0xFFFF, reflected polynomial 0xA001).
std::uint16_t crc16Register(std::string_view bytes);

// The check value as it goes on the line: two characters, low byte first.
std::string CRC16(std::string_view sString);

} // namespace quenta
