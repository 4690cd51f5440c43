#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// What a plain-mode poll keeps between ticks while an answer is still arriving.
struct PlainReceiver {
    std::string pending; // characters read but not yet handed on
    int quietTicks = 0;  // polls in a row that brought nothing while characters were pending
};

// An answer is handed on once it has at least this many characters.
inline constexpr std::size_t kPlainMinAnswer = 4;
// Characters left without a line end are handed on after this many quiet polls.
inline constexpr int kPlainQuietTicks = 5;
// Pending characters never exceed this: more than this is handed on whole, line end or not.
inline constexpr std::size_t kPlainPendingLimit = 1024;

// Adds one poll's characters (possibly none) and returns the answer to hand on, if one is complete:
// everything up to the last line end (CR or LF) once that is at least kPlainMinAnswer characters;
// or, for a device that ends no line, what holds a whole answer keyword and has waited through
// kPlainQuietTicks quiet polls. Text without a line end and without a keyword waits for the rest
// of its answer, however long the pause, up to kPlainPendingLimit characters.
std::optional<std::string> takePlainAnswer(PlainReceiver &rx, std::string_view read);

// Collects answers line by line, as fast as they come: an answer is a line (up to CR or LF) that
// holds an answer keyword. Lines without one (noise, echoes, empty lines) are dropped, and so is a
// line that grows past kPlainPendingLimit without ending; the dropped lines that were not empty
// are counted as unreadable.
class AnswerLines {
public:
    // Adds the characters of one read and returns the answers they complete, in order.
    std::vector<std::string> take(std::string_view read);
    void clear() {
        pending_.clear();
        overlong_ = false;
    }
    // Lines dropped so far that held something but no keyword, or too much.
    int unreadable() const { return unreadable_; }

private:
    std::string pending_;
    bool overlong_ = false; // the line under way passed the bound: it is dropped at its end
    int unreadable_ = 0;
};

} // namespace quenta
