#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// A line never grows past this: what comes after, up to its end, is dropped with it.
inline constexpr std::size_t kLineLimit = 1024;

// One line as it came from a port: its text without the line end, and where its first character
// stands among all the characters taken, from 0.
struct Line {
    std::string text;
    std::uint64_t begin = 0;
    bool overlong = false; // it passed kLineLimit: the text is its first kLineLimit characters
};

// Cuts what a port delivers into lines at CR or LF, whatever pieces it comes in. Empty lines are
// no lines.
class AnswerLines {
public:
    // Adds the characters of one read and returns the lines they complete, in order.
    std::vector<Line> take(std::string_view read);
    // Forgets the line under way.
    void clear();
    // The line under way, so far; empty when none is.
    const std::string &pending() const { return pending_; }
    // Takes the line under way as a line of its own, though its line end has not come.
    Line takePending();
    // The characters taken so far.
    std::uint64_t position() const { return position_; }
    // Where the line under way began; position() when none is under way.
    std::uint64_t pendingBegin() const { return pending_.empty() ? position_ : begin_; }

private:
    std::string pending_;
    bool overlong_ = false; // the line under way passed the bound
    std::uint64_t position_ = 0;
    std::uint64_t begin_ = 0;
};

} // namespace quenta
