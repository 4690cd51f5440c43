#pragma once

#include "pure/engine/Task.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The engine's sentences: how a job's outcome is told.
namespace quenta::wording {

// An answer as a report shows it: without the blanks and line ends around it.
std::string shown(std::string_view answer);

// Milliseconds as seconds, as short as they go: "2.5".
std::string seconds(int ms);

// "1..127" for a run of addresses, else "3, 7, 12".
std::string addresses(const std::vector<std::uint8_t> &list);

// A line of a pass, as the messages name it; line 0: none.
struct PassLine {
    std::size_t line = 0;
    Pass pass = Pass::Download;
};

// Where a job stood: "before the first line", "at line 7 of the verify".
std::string where(bool passStarted, PassLine at);

// The board's ERROR (or another refusing answer) to `at`, or, with `orEarlier`, to `at` or a line
// before it; line 0: before the line `next`.
std::string refusal(std::string_view answer, PassLine at, bool orEarlier, std::size_t next);

// A verify pass that can prove nothing, with what disturbed it last and how often.
std::string disturbedVerify(std::string_view disturbance, int voided, int allowed, bool lateAnswers,
                            int timeoutMs);

std::string wrongBoard(std::string_view version, std::string_view expected);
std::string boardChanged(std::string_view from, std::string_view to);
std::string noBootloader(int waitMs, int baud);
std::string noBoardOnBus(const std::vector<std::uint8_t> &list, int baud);
std::string unfitAnswer(std::size_t line, bool last, std::string_view answer);
std::string unfitAnswerEveryTry(std::size_t line, bool last, std::string_view answer, int tries);

} // namespace quenta::wording
