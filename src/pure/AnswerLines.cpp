#include "pure/AnswerLines.h"

namespace quenta {
namespace {

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

} // namespace

std::vector<Line> AnswerLines::take(std::string_view read) {
    std::vector<Line> lines;
    for (const char c : read) {
        const std::uint64_t at = position_++;
        if (!isLineEnd(c)) {
            if (pending_.empty()) {
                begin_ = at;
            }
            overlong_ = overlong_ || pending_.size() >= kLineLimit;
            if (!overlong_) {
                pending_ += c;
            }
            continue;
        }
        if (!pending_.empty()) {
            lines.push_back({std::move(pending_), begin_, overlong_});
        }
        pending_.clear();
        overlong_ = false;
    }
    return lines;
}

Line AnswerLines::takePending() {
    Line line{std::move(pending_), begin_, overlong_};
    clear();
    return line;
}

void AnswerLines::clear() {
    pending_.clear();
    overlong_ = false;
}

} // namespace quenta
