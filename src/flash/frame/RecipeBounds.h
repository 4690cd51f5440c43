#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quenta::flash {

// The TOML reader follows the parts of a dotted key or a table's name, and values nested in one
// another, by recursion: a key of some thousands of parts exhausts the stack. A recipe's text is
// measured against these bounds before it is read; no recipe comes near them.
inline constexpr int kMostDotsOnALine = 32;
inline constexpr int kDeepestNesting = 32;

// Where a text passes a bound, and which.
struct BoundPassed {
    int line = 0; // counted from 1
    int column = 0;
    std::string what;
};

// The first place where the text has more than kMostDotsOnALine dots on one line, or lists and
// tables nested more than kDeepestNesting deep, outside its texts and comments; none when it
// keeps within both.
std::optional<BoundPassed> recipeBoundPassed(std::string_view text);

} // namespace quenta::flash
