#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quenta {

// Result of scanning a number at the start of a text.
struct NumberScan {
    double value = 0.0;  // the number read; 0 when none; +-infinity when it overflows
    std::size_t end = 0; // index just past the last character that belonged to the number
    bool digits = false; // whether any digit was read
};

// Reads the number at the start of a text the way the address boxes are read: an optional sign,
// digits with an optional decimal point and exponent, or "&H" followed by hexadecimal digits.
// Reading stops at the first character that does not fit. With skipBlanks, spaces, tabs and line
// feeds are passed over wherever they stand.
NumberScan scanNumber(std::string_view text, bool skipBlanks);

// The number at the start of a text, blanks skipped anywhere; 0 when there is none.
double readNumber(std::string_view text);

// Rounds to the nearest whole number, halves going to the even neighbour.
double roundHalfEven(double value);

// The device address of an address box: its number, rounded half to even, in 0..255.
std::optional<std::uint8_t> deviceAddress(std::string_view text);

// The device address of an address box, or why the box holds none. An empty box reads as address
// 0; any other text without a number at its start, and a number outside 0..255, hold none.
struct AddressReading {
    enum class Fault { None, NoNumber, OutOfRange };
    std::uint8_t address = 0;
    Fault fault = Fault::None;
};
AddressReading readDeviceAddress(std::string_view text);

// A whole text as a 16-bit integer (blanks around it allowed, rounded half to even).
std::optional<std::int16_t> toInteger16(std::string_view text);

} // namespace quenta
