#pragma once

// Bytes for tests, never made by the code under test: hexadecimal literals, and Modbus frames
// closed with the simulated board's own CRC.

#include "simboard/Crc.h"

#include <QByteArray>

#include <cstdint>
#include <string>
#include <string_view>

namespace quenta::testing {

// "01 42 4F" -> the bytes 01 42 4F.
inline std::string hexBytes(const char *hex) {
    return QByteArray::fromHex(hex).toStdString();
}

// An answer frame as a board sends it: address, marker, text, CRC-16 low byte first.
inline std::string answerFrame(std::uint8_t address, std::string_view text, char marker = 'B') {
    return simboard::withCrc(std::string(1, static_cast<char>(address)) + marker +
                             std::string(text));
}

// A command frame as the board expects it: address, command text, CRC-16 low byte first.
inline std::string commandFrame(std::uint8_t address, std::string_view command) {
    return simboard::withCrc(std::string(1, static_cast<char>(address)) + std::string(command));
}

inline QByteArray qbytes(std::string_view bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

} // namespace quenta::testing
