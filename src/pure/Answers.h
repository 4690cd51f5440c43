#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace quenta {

// The keywords a bootloader answer may hold, in the order in which they are looked for.
enum class Keyword { None, Version, Error, Download, Format, Ok };

// The first keyword, in the order VER=, ERROR, DOWNLOAD, FORMAT, OK, that occurs anywhere in the
// answer (exact, case-sensitive); None when there is none.
Keyword findKeyword(std::string_view answer);

// Where the first of any keyword begins in the answer: the place from which it is an answer at
// all. None when it holds no keyword.
std::optional<std::size_t> keywordStart(std::string_view answer);

} // namespace quenta
