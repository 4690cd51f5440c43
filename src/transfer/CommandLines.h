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

// The two upper-case hexadecimal digits of the low byte of the number read from a text (blanks
// skipped, rounded half to even); none when the number does not fit in 32 signed bits.
std::optional<std::string> addressDigits(std::string_view text);

// "BOOT$" + the new address's two digits + CR LF; none when the address reads as "00" or does not
// fit.
std::optional<std::string> setAddressLine(std::string_view text);

} // namespace quenta
