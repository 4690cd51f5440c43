#pragma once

#include "pure/engine/BoardEngine.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenta {

// What the window shows and does after an event of its job, in this order: the bar text, the
// lines to send, the bar value and colour, the answer box, then the wait before timerFired().
struct JobView {
    std::optional<std::string> barText;
    std::vector<std::string> lines; // command lines, unframed: the window frames them
    std::optional<int> barValue;
    std::optional<std::uint32_t> barColor;
    // Why the job was refused, in words, where the board's own answer, shown already, does not say
    // it.
    std::optional<std::string> answerBox;
    std::optional<int> timerMs;    // call timerFired() after this long; 0: never
    std::optional<JobOutcome> end; // the job is over: how it ended
};

// The window's firmware job: the line table and the flags of a download and verify, or of a verify
// alone, run by the board engine the way the window works (see kWindowPatience). The job judges
// the board by the engine's rule, so that a green "END" means what the flasher's "ok" means.
struct FirmwareJob {
    static constexpr int kMaxLines = 9000;

    // Entry k is line k of the last file read in full; entry 0 is never used.
    std::vector<std::string> HexLines = std::vector<std::string>(1);
    std::int16_t LineCount = 0;
    std::int16_t LineIndex = 0;  // the last line sent in the pass; 0 after the pass's last line
    std::int16_t VerifyMode = 0; // 1 while the verify pass runs
    std::int16_t TransferRequested = 0;
    std::int16_t FileLoaded = 0; // 1 while the job runs

    // Takes a file's lines (at most kMaxLines) as the next job: download, or verify alone.
    void load(std::vector<std::string> lines, bool verifyAlone);

    // Starts the job of the last load; `address` is the board's on a Modbus line.
    JobView start(std::optional<std::uint8_t> address, Micros now);
    // What a poll of the port read while the job runs.
    JobView received(std::string_view bytes, Micros now);
    // A poll read nothing: an answer that came without its line end is taken.
    JobView quiet(Micros now);
    // The wait the last view asked for is over.
    JobView timerFired(Micros now);
    // Ends the job without a word: the port was closed or lost.
    void stop();

    bool running() const { return engine_ && !engine_->done(); }
    // Whether an answer waits for a poll that reads nothing (see quiet()).
    bool answerPending() const { return running() && engine_->answerPending(); }

private:
    JobView view(Step step);

    bool verifyAlone_ = false;
    std::vector<std::string> records_; // entries 1 to LineCount, as the engine takes them
    std::unique_ptr<BoardEngine> engine_;
    Pass shownPass_ = Pass::Download;
};

} // namespace quenta
