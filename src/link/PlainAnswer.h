#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quenta {

// What a plain-mode poll keeps between ticks while an answer is still arriving.
struct PlainReceiver {
    std::string pending; // characters read but not yet handed on
    int quietTicks = 0;  // polls in a row that brought nothing while characters were pending
};

// An answer is handed on once it has at least this many characters.
inline constexpr std::size_t kPlainMinAnswer = 4;
// Characters left without a line end are handed on after this many quiet polls.
inline constexpr int kPlainQuietTicks = 5;
// Pending characters never exceed this: more than this is handed on whole, line end or not.
inline constexpr std::size_t kPlainPendingLimit = 1024;

// Adds one poll's characters (possibly none) and returns the answer to hand on, if one is complete:
// everything up to the last line end (CR or LF) once that is at least kPlainMinAnswer characters;
// or, for a device that ends no line, what has waited through kPlainQuietTicks quiet polls.
std::optional<std::string> takePlainAnswer(PlainReceiver &rx, std::string_view read);

} // namespace quenta
