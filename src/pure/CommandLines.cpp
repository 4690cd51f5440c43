#include "pure/CommandLines.h"

#include "pure/HexDigits.h"
#include "pure/NumberText.h"

#include <algorithm>

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

NewAddress setAddressLine(std::string_view text) {
    const NumberScan scan = scanNumber(text, true);
    if (!scan.digits) {
        return {};
    }
    const double value = roundHalfEven(scan.value);
    if (!(value >= 0.0 && value <= 255.0)) {
        return {std::nullopt, true};
    }
    const auto address = static_cast<unsigned>(value);
    if (address == 0) {
        return {};
    }
    return {commandLine("$" + hexByte(address)), false};
}

} // namespace quenta
