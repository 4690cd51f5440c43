#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quenta {

// A command as it goes on a Modbus line: address character, command text, CRC-16 low byte first.
std::string modbusFrame(std::uint8_t address, std::string_view command);

// The receive buffer never grows past this: no answer of the bootloader comes near it.
inline constexpr std::size_t kModbusBufferLimit = 256;

// The shortest answer frame: address, "B", two text characters, two CRC characters.
inline constexpr std::size_t kModbusMinFrame = 6;

struct ModbusScan {
    enum class Kind {
        Incomplete,   // nothing to hand on yet; the buffer waits for more characters
        Answer,       // a valid frame was taken off the front of the buffer
        AddressError, // the buffer did not start with the device address
        MarkerError,  // the buffer started with the address but not with the marker "B"
    };
    Kind kind = Kind::Incomplete;
    std::string answer; // the answer text without address, marker and CRC (Kind::Answer)
};

// Examines the receive buffer once. A valid frame is taken off its front; a buffer that starts
// with a wrong address or marker loses its front up to the next place where a frame could start
// (the address followed by "B"); a frame that can no longer complete, because a complete frame
// follows it, is dropped in favour of that frame; and the buffer is kept within
// kModbusBufferLimit. Call again until it reports Incomplete.
ModbusScan takeModbusAnswer(std::string &buffer, std::uint8_t address);

} // namespace quenta
