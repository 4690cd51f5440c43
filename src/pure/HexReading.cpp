#include "pure/HexReading.h"

namespace quenta {
namespace {

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}
bool isSeparator(char c) {
    return c == ',' || isLineEnd(c);
}
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::string HexItemReader::next() {
    itemLine_ = currentLine_;
    while (pos_ < content_.size() && isBlank(content_[pos_])) {
        ++pos_;
    }
    std::string item;
    if (pos_ < content_.size() && content_[pos_] == '"') {
        const std::size_t start = ++pos_;
        while (pos_ < content_.size() && content_[pos_] != '"' && !isLineEnd(content_[pos_])) {
            ++pos_;
        }
        item.assign(content_.substr(start, pos_ - start));
        while (pos_ < content_.size() && !isSeparator(content_[pos_])) {
            ++pos_;
        }
    } else {
        const std::size_t start = pos_;
        while (pos_ < content_.size() && !isSeparator(content_[pos_])) {
            ++pos_;
        }
        std::size_t end = pos_;
        while (end > start && isBlank(content_[end - 1])) {
            --end;
        }
        item.assign(content_.substr(start, end - start));
    }
    takeSeparator();
    return item;
}

void HexItemReader::takeSeparator() {
    if (pos_ >= content_.size()) {
        return;
    }
    if (isLineEnd(content_[pos_])) {
        ++currentLine_;
    }
    if (content_[pos_] == '\r' && pos_ + 1 < content_.size() && content_[pos_ + 1] == '\n') {
        pos_ += 2;
        return;
    }
    ++pos_;
}

} // namespace quenta
