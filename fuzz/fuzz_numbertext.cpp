// The number readers over arbitrary text. Nothing is undefined; a scan stays within its text and
// reads 0 when it finds no digit; rounding goes to the nearest whole number, halves to the even
// one; the device address is the rounded number when that is in 0..255; a 16-bit integer reads back
// the same from its own digits and with blanks around the text; a set-address line goes out exactly
// for the addresses 1..255, and carries the device address.
#include "Fuzzing.h"
#include "pure/CommandLines.h"
#include "pure/NumberText.h"

#include <cmath>

using namespace quenta;
using quenta::fuzzing::require;

namespace {

void checkScan(std::string_view text, bool skipBlanks) {
    const NumberScan scan = scanNumber(text, skipBlanks);
    require(scan.end <= text.size(), "a scan ends past its text");
    require(!std::isnan(scan.value), "a scan reads NaN");
    if (scan.digits) {
        require(scan.end > 0, "a scan with digits ends at the start");
    } else {
        require(scan.value == 0.0 && scan.end == 0, "a scan without digits reads something");
    }
}

void checkRounding(double value, double rounded) {
    if (!std::isfinite(value)) {
        require(rounded == value, "rounding changes an infinite number");
        return;
    }
    const double distance = std::fabs(rounded - value);
    require(rounded == std::floor(rounded), "rounding gives a fraction");
    require(distance <= 0.5, "rounding goes past the nearest whole number");
    require(distance < 0.5 || std::fmod(rounded, 2.0) == 0.0, "a half goes to the odd neighbour");
}

std::string hexByte(std::uint8_t value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    return {kHex[value >> 4], kHex[value & 0xF]};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    checkScan(text, false);
    checkScan(text, true);

    const double number = readNumber(text);
    require(number == scanNumber(text, true).value, "readNumber differs from the scan");
    const double rounded = roundHalfEven(number);
    checkRounding(number, rounded);

    const auto address = deviceAddress(text);
    require(address.has_value() == (rounded >= 0.0 && rounded <= 255.0),
            "a device address is given outside 0..255 or refused inside it");
    if (address) {
        require(*address == rounded, "the device address is not the rounded number");
    }

    if (const auto integer = toInteger16(text)) {
        require(toInteger16(std::to_string(*integer)) == integer,
                "a 16-bit integer does not read back from its digits");
        require(toInteger16(" \t" + text + "\t ") == integer, "blanks around change the integer");
    }

    const bool digits = scanNumber(text, true).digits;
    const NewAddress newAddress = setAddressLine(text);
    require(newAddress.outOfRange == (digits && !address.has_value()),
            "a new address is out of range other than outside 0..255");
    require(newAddress.line.has_value() == (digits && address.has_value() && *address != 0),
            "a set-address line is given for 0 or out of range, or refused for 1..255");
    if (newAddress.line) {
        require(*newAddress.line == "BOOT$" + hexByte(*address) + "\r\n",
                "a set-address line is not BOOT$ + the address in two upper-case digits + CR LF");
    }
    return 0;
}
