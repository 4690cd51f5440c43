#include "transfer/CommandLines.h"

#include "protocol/NumberText.h"

#include <algorithm>
#include <cstdint>

namespace quenta {
namespace {

std::string commandLine(std::string_view payload) {
    std::string line = "BOOT";
    line.append(payload);
    line.append("\r\n");
    return line;
}

} // namespace

std::string downloadLine(std::string_view entry) {
    return commandLine(entry);
}

std::string verifyLine(std::string_view entry) {
    std::string line = commandLine(entry);
    std::replace(line.begin(), line.end(), ':', '#');
    return line;
}

std::optional<std::string> addressDigits(std::string_view text) {
    const double value = roundHalfEven(readNumber(text));
    if (!(value >= -2147483648.0 && value <= 2147483647.0)) {
        return std::nullopt;
    }
    const auto low = static_cast<std::uint8_t>(static_cast<std::int32_t>(value) & 0xFF);
    static constexpr char kHex[] = "0123456789ABCDEF";
    return std::string{kHex[low >> 4], kHex[low & 0xF]};
}

std::optional<std::string> setAddressLine(std::string_view text) {
    const auto digits = addressDigits(text);
    if (!digits || *digits == "00") {
        return std::nullopt;
    }
    return commandLine("$" + *digits);
}

} // namespace quenta
