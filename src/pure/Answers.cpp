#include "pure/Answers.h"

#include <array>
#include <utility>

namespace quenta {

namespace {

constexpr std::array<std::pair<std::string_view, Keyword>, 5> kOrder = {{
    {"VER=", Keyword::Version},
    {"ERROR", Keyword::Error},
    {"DOWNLOAD", Keyword::Download},
    {"FORMAT", Keyword::Format},
    {"OK", Keyword::Ok},
}};

} // namespace

Keyword findKeyword(std::string_view answer) {
    for (const auto &[text, keyword] : kOrder) {
        if (answer.find(text) != std::string_view::npos) {
            return keyword;
        }
    }
    return Keyword::None;
}

std::optional<std::size_t> keywordStart(std::string_view answer) {
    std::optional<std::size_t> first;
    for (const auto &entry : kOrder) {
        const std::size_t at = answer.find(entry.first);
        if (at != std::string_view::npos && (!first || at < *first)) {
            first = at;
        }
    }
    return first;
}

} // namespace quenta
