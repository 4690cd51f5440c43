#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quenta {

// Every command is one line: "BOOT" + payload + CR LF; the version query is the one without the
// prefix.
inline constexpr std::string_view kInfoCommand = "BOOTi\r\n";
inline constexpr std::string_view kInstallCommand = "BOOTg\r\n";
inline constexpr std::string_view kVersionQuery = "VER\r\n";

// A firmware line in download form: the entry as it stands.
std::string downloadLine(std::string_view entry);

// A firmware line in verify form: every ":" of the entry replaced by "#".
std::string verifyLine(std::string_view entry);

// The command that gives a board a new bus address, read from a text as a number (blanks skipped,
// rounded half to even): "BOOT$" + two upper-case hexadecimal digits + CR LF. None for a text
// without a number, for 0, which no board can answer to, and for a number outside 0..255, which
// would otherwise wrap to an address nobody typed.
struct NewAddress {
    std::optional<std::string> line;
    bool outOfRange = false; // the number lies outside 0..255
};
NewAddress setAddressLine(std::string_view text);

} // namespace quenta
