#include "pure/engine/Wording.h"

#include <cstdio>

namespace quenta::wording {

std::string shown(std::string_view answer) {
    const auto first = answer.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = answer.find_last_not_of(" \t\r\n");
    return std::string(answer.substr(first, last - first + 1));
}

std::string seconds(int ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", ms / 1000.0);
    return text;
}

std::string addresses(const std::vector<std::uint8_t> &list) {
    const bool run =
        !list.empty() && list.back() - list.front() + 1 == static_cast<int>(list.size());
    if (run) {
        return std::to_string(list.front()) + ".." + std::to_string(list.back());
    }
    std::string text;
    for (const std::uint8_t address : list) {
        text += (text.empty() ? "" : ", ") + std::to_string(address);
    }
    return text;
}

std::string where(bool passStarted, PassLine at) {
    if (!passStarted) {
        return "before the first line";
    }
    return "at line " + std::to_string(at.line) + " of the " +
           (at.pass == Pass::Download ? "download" : "verify");
}

std::string refusal(std::string_view answer, PassLine at, bool orEarlier, std::size_t next) {
    const std::string place =
        at.line == 0 ? "before line " + std::to_string(next)
                     : "line " + std::to_string(at.line) + (orEarlier ? " or an earlier one" : "");
    return place + ": " + (at.pass == Pass::Verify ? "verify: " : "") + "the board answered \"" +
           shown(answer) + "\"";
}

std::string disturbedVerify(std::string_view disturbance, int voided, int allowed, bool lateAnswers,
                            int timeoutMs) {
    if (allowed <= 1) {
        return std::string(disturbance) + ": verify again";
    }
    return "the verify was disturbed " + std::to_string(voided) +
           " times (re-sent lines, late, extra or unreadable answers): the board is not proven to "
           "hold the file; the last time " +
           std::string(disturbance) +
           (lateAnswers ? "; answers came later than the timeout (" + std::to_string(timeoutMs) +
                              " ms): check it against the board's answer time"
                        : std::string());
}

std::string wrongBoard(std::string_view version, std::string_view expected) {
    return "the bootloader answered \"" + std::string(version) + "\" where " +
           (expected.empty() ? std::string("another board") : "\"" + std::string(expected) + "\"") +
           " was expected: nothing was written";
}

std::string boardChanged(std::string_view from, std::string_view to) {
    return "the board changed across a drop, from \"" + std::string(from) + "\" to \"" +
           std::string(to) + "\", and was judged from scratch";
}

std::string noBootloader(int waitMs, int baud) {
    return "the bootloader did not answer within " + seconds(waitMs) + " s: check the speed (" +
           std::to_string(baud) + " baud), the Modbus setting and the address; power the board";
}

std::string noBoardOnBus(const std::vector<std::uint8_t> &list, int baud) {
    return "no board answered on the addresses " + addresses(list) + " at " + std::to_string(baud) +
           " baud: check the speed and the Modbus setting; power the boards";
}

std::string unfitAnswer(std::size_t line, bool last, std::string_view answer) {
    const std::string number = "line " + std::to_string(line);
    if (last) {
        return number + ", the last: the board answered \"" + shown(answer) +
               "\" and never reported the end of the file";
    }
    return number + ": the board answered \"" + shown(answer) + "\" where \"OK\" was due";
}

std::string unfitAnswerEveryTry(std::size_t line, bool last, std::string_view answer, int tries) {
    return "line " + std::to_string(line) + ": the board answered \"" + shown(answer) +
           "\" where \"" + (last ? "DOWNLOAD" : "OK") + "\" was due, " + std::to_string(tries) +
           " tries";
}

} // namespace quenta::wording
