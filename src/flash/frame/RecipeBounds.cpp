#include "flash/frame/RecipeBounds.h"

#include <algorithm>

namespace quenta::flash {
namespace {

// Walks a TOML text, skipping its texts and comments, and measures what the reader would follow.
class BoundWalk {
public:
    explicit BoundWalk(std::string_view text) : text_(text) {}

    std::optional<BoundPassed> run() {
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '"' || c == '\'') {
                skipText(c);
                continue;
            }
            if (c == '#') {
                skipComment();
                continue;
            }
            if (c == '.' && ++dots_ > kMostDotsOnALine) {
                return passed("more than " + std::to_string(kMostDotsOnALine) +
                              " dots outside texts on one line: no key of a recipe has that many "
                              "parts");
            }
            if ((c == '[' || c == '{') && ++depth_ > kDeepestNesting) {
                return passed("lists and tables nested more than " +
                              std::to_string(kDeepestNesting) + " deep");
            }
            if ((c == ']' || c == '}') && depth_ > 0) {
                --depth_;
            }
            step();
        }
        return std::nullopt;
    }

private:
    BoundPassed passed(std::string what) const {
        return {line_, static_cast<int>(at_ - lineStart_) + 1, std::move(what)};
    }

    // Moves past one character, counting the lines.
    void step() {
        if (text_[at_++] == '\n') {
            ++line_;
            lineStart_ = at_;
            dots_ = 0;
        }
    }

    bool startsHere(std::string_view what) const { return text_.substr(at_, what.size()) == what; }

    // A basic text (in double quotes) knows backslash escapes, a literal one (in single quotes)
    // none; either may be multi-line, between three quotes, and may then end in one or two more
    // quotes of its own before the three that close it. A text that is not closed ends with its
    // line or the file: the reader refuses it there.
    void skipText(char quote) {
        const std::string one(1, quote);
        const std::string three(3, quote);
        const bool multiline = startsHere(three);
        const std::string &close = multiline ? three : one;
        at_ += close.size();
        while (at_ < text_.size() && !startsHere(close)) {
            if (quote == '"' && text_[at_] == '\\' && at_ + 1 < text_.size()) {
                step();
            }
            if (!multiline && text_[at_] == '\n') {
                return;
            }
            step();
        }
        at_ = std::min(text_.size(), at_ + close.size());
        for (int extra = 0; multiline && extra < 2 && startsHere(one); ++extra) {
            ++at_;
        }
    }

    void skipComment() {
        while (at_ < text_.size() && text_[at_] != '\n') {
            ++at_;
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::size_t lineStart_ = 0;
    int line_ = 1;
    int dots_ = 0;
    int depth_ = 0;
};

} // namespace

std::optional<BoundPassed> recipeBoundPassed(std::string_view text) {
    return BoundWalk(text).run();
}

} // namespace quenta::flash
