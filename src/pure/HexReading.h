#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quenta {

// Reads a firmware file item by item. Items are separated by commas and by line ends (CR LF, LF
// or CR); blanks in front of an item are skipped, and so are blanks at the end of an unquoted
// item; an item that begins with a double quote runs to the next double quote (or to the end of
// its line) and is stored without the quotes, and what follows the closing quote up to the next
// separator is dropped; an empty line is an empty item. A read takes the separator after its item
// with it, so the line end after the last item adds no empty item. No item ever holds a CR or LF.
class HexItemReader {
public:
    explicit HexItemReader(std::string_view content) : content_(content) {}

    bool atEnd() const { return pos_ >= content_.size(); }

    // The next item; only to be called while !atEnd().
    std::string next();

    // The line (counted from 1) on which the item last returned stands.
    std::size_t line() const { return itemLine_; }

private:
    void takeSeparator();

    std::string_view content_;
    std::size_t pos_ = 0;
    std::size_t currentLine_ = 1;
    std::size_t itemLine_ = 0;
};

} // namespace quenta
