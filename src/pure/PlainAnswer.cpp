#include "pure/PlainAnswer.h"

#include "pure/Answers.h"

namespace quenta {
namespace {

std::optional<std::string> handOn(PlainReceiver &rx, std::size_t length) {
    std::string answer = rx.pending.substr(0, length);
    rx.pending.erase(0, length);
    rx.quietTicks = 0;
    return answer;
}

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

} // namespace

std::optional<std::string> takePlainAnswer(PlainReceiver &rx, std::string_view read) {
    if (read.empty()) {
        if (rx.pending.size() < kPlainMinAnswer || findKeyword(rx.pending) == Keyword::None) {
            return std::nullopt;
        }
        if (++rx.quietTicks < kPlainQuietTicks) {
            return std::nullopt;
        }
        return handOn(rx, rx.pending.size());
    }
    rx.quietTicks = 0;
    rx.pending.append(read);
    if (rx.pending.size() > kPlainPendingLimit) {
        return handOn(rx, rx.pending.size());
    }
    const std::size_t lineEnd = rx.pending.find_last_of("\r\n");
    if (lineEnd != std::string::npos && lineEnd + 1 >= kPlainMinAnswer) {
        return handOn(rx, lineEnd + 1);
    }
    return std::nullopt;
}

std::vector<std::string> AnswerLines::take(std::string_view read) {
    std::vector<std::string> answers;
    for (const char c : read) {
        if (!isLineEnd(c)) {
            overlong_ = overlong_ || pending_.size() >= kPlainPendingLimit;
            if (!overlong_) {
                pending_ += c;
            }
            continue;
        }
        if (!overlong_ && findKeyword(pending_) != Keyword::None) {
            answers.push_back(std::move(pending_));
        } else if (overlong_ || !pending_.empty()) {
            ++unreadable_;
        }
        pending_.clear();
        overlong_ = false;
    }
    return answers;
}

} // namespace quenta
