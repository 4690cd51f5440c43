#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace simboard {

// The board's own CRC-16/MODBUS (initial 0xFFFF, reflected polynomial 0xA001), bit by bit.
std::uint16_t crc16(std::string_view bytes);

// The bytes followed by their CRC-16, low byte first: a Modbus frame from its body.
std::string withCrc(std::string body);

} // namespace simboard
