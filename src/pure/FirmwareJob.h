#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// What the answer rule asks the front end to show and do, in this order: stop the probing, set
// the status, write the bar (text, colour, value), then send the next line.
struct AnswerEffects {
    bool stopProbing = false;
    std::optional<std::string> status;
    std::optional<std::string> barText;
    std::optional<std::uint32_t> barColor;
    std::optional<int> barValue;
    bool sendNextLine = false;
};

// One firmware line on its way: the bar text to set first (download form only), the command to
// send, then the bar value.
struct LineSend {
    std::optional<std::string> barText;
    std::string command;
    int barValue = 0;
};

// A firmware job: the line table and the flags of a download and verify, or of a verify alone,
// paced by the board's answers. A front end reads its controls, calls these and shows the effects.
struct FirmwareJob {
    static constexpr int kMaxLines = 9000;

    // Entry k is line k of the last file read in full; entry 0 is never used.
    std::vector<std::string> HexLines = std::vector<std::string>(1);
    std::int16_t LineCount = 0;
    std::int16_t LineIndex = 0;
    std::int16_t VerifyMode = 0;
    std::int16_t TransferRequested = 0;
    std::int16_t FileLoaded = 0;

    // Takes a file's lines (at most kMaxLines) as the new job: download, or verify alone. The
    // job's flags change here only, once the file has been read in full.
    void load(std::vector<std::string> lines, bool verifyAlone);

    // The next line of the table in the form of the running pass; none before the first file.
    std::optional<LineSend> nextLine();

    // The answer rule: the first keyword of the answer decides (see findKeyword).
    AnswerEffects answer(std::string_view text);

    // The job ends without an answer: the port was closed or lost.
    void stop();

    // Whether a download pass is running: the board is being written.
    bool writing() const { return FileLoaded == 1 && VerifyMode != 1; }
};

} // namespace quenta
