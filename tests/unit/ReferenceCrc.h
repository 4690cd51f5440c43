#pragma once

// A bit-by-bit Modbus RTU CRC-16 written straight from the rule (register starts at 0xFFFF,
// each byte is xor-ed into the low end, eight shifts to the right, 0xA001 folded in whenever a
// one falls out). The tests use it to build frames whose check value they do not want to spell
// out by hand; published check values pin it down in unit_crc16.

#include <QByteArray>

#include <cstdint>
#include <string>

namespace quenta_test {

inline std::uint16_t referenceUpdate(std::uint16_t start, unsigned char byte) {
    std::uint32_t reg = start;
    reg ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
        if (reg & 1u)
            reg = (reg >> 1) ^ 0xA001u;
        else
            reg >>= 1;
    }
    return static_cast<std::uint16_t>(reg);
}

inline std::uint16_t referenceCrc(const QByteArray &bytes) {
    std::uint16_t reg = 0xFFFF;
    for (const char c : bytes)
        reg = referenceUpdate(reg, static_cast<unsigned char>(c));
    return reg;
}

// The bytes followed by their check value, low byte first.
inline QByteArray withReferenceCrc(const QByteArray &bytes) {
    const std::uint16_t reg = referenceCrc(bytes);
    QByteArray out = bytes;
    out.append(static_cast<char>(reg & 0xFF));
    out.append(static_cast<char>(reg >> 8));
    return out;
}

inline std::string toStd(const QByteArray &bytes) {
    return bytes.toStdString();
}

inline QByteArray toBytes(const std::string &text) {
    return QByteArray::fromStdString(text);
}

} // namespace quenta_test
