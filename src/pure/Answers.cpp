#include "pure/Answers.h"

#include <array>
#include <utility>

namespace quenta {

Keyword findKeyword(std::string_view answer) {
    static constexpr std::array<std::pair<std::string_view, Keyword>, 5> kOrder = {{
        {"VER=", Keyword::Version},
        {"ERROR", Keyword::Error},
        {"DOWNLOAD", Keyword::Download},
        {"FORMAT", Keyword::Format},
        {"OK", Keyword::Ok},
    }};
    for (const auto &[text, keyword] : kOrder) {
        if (answer.find(text) != std::string_view::npos) {
            return keyword;
        }
    }
    return Keyword::None;
}

} // namespace quenta
