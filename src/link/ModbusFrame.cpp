#include "link/ModbusFrame.h"

#include "protocol/Crc16.h"

#include <optional>

namespace quenta {
namespace {

constexpr char kMarker = 'B';

// The length of the shortest valid frame that starts at `start`, if any.
std::optional<std::size_t> completeFrameAt(std::string_view buffer, std::size_t start) {
    const std::string_view rest = buffer.substr(start);
    std::uint16_t reg = 0xFFFF;
    for (std::size_t body = 1; body + 2 <= rest.size(); ++body) {
        reg = crc16Update(reg, rest[body - 1]);
        if (body + 2 >= kModbusMinFrame && static_cast<unsigned char>(rest[body]) == (reg & 0xFF) &&
            static_cast<unsigned char>(rest[body + 1]) == (reg >> 8)) {
            return body + 2;
        }
    }
    return std::nullopt;
}

// The next place after `from` where a frame could start: the address, then "B" or the buffer end.
std::size_t nextStart(std::string_view buffer, std::size_t from, char address) {
    for (std::size_t p = from; p < buffer.size(); ++p) {
        if (buffer[p] == address && (p + 1 == buffer.size() || buffer[p + 1] == kMarker)) {
            return p;
        }
    }
    return buffer.size();
}

} // namespace

std::string modbusFrame(std::uint8_t address, std::string_view command) {
    std::string frame(1, static_cast<char>(address));
    frame.append(command);
    frame.append(CRC16(frame));
    return frame;
}

ModbusScan takeModbusAnswer(std::string &buffer, std::uint8_t address) {
    const char addr = static_cast<char>(address);
    if (buffer.size() > kModbusBufferLimit) {
        buffer.erase(0, nextStart(buffer, buffer.size() - kModbusBufferLimit, addr));
    }
    if (buffer.size() < kModbusMinFrame) {
        return {};
    }
    if (buffer[0] != addr || buffer[1] != kMarker) {
        const auto kind =
            buffer[0] != addr ? ModbusScan::Kind::AddressError : ModbusScan::Kind::MarkerError;
        buffer.erase(0, nextStart(buffer, 1, addr));
        return {kind, {}};
    }
    if (const auto length = completeFrameAt(buffer, 0)) {
        ModbusScan scan{ModbusScan::Kind::Answer, buffer.substr(2, *length - 4)};
        buffer.erase(0, *length);
        return scan;
    }
    for (std::size_t p = nextStart(buffer, 1, addr); p < buffer.size();
         p = nextStart(buffer, p + 1, addr)) {
        if (const auto length = completeFrameAt(buffer, p)) {
            ModbusScan scan{ModbusScan::Kind::Answer, buffer.substr(p + 2, *length - 4)};
            buffer.erase(0, p + *length);
            return scan;
        }
    }
    return {};
}

} // namespace quenta
