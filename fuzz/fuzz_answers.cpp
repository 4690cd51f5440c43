// The window's firmware job paced by a port that delivers arbitrary characters at arbitrary
// moments. Input: one byte of flags (bit 0 verify alone, bit 1 Modbus), the Modbus address, then
// polls: a byte of milliseconds since the poll before, then a chunk of characters read (length 0
// is a quiet poll). After every event: what goes out is a line of the table in the form of its
// pass (a verify alone never sends a download line); a line goes out only after something was
// read since the line before; the line index stays within the table; and a green END comes only
// after a verify pass that sent every line once, in order.
#include "Fuzzing.h"
#include "pure/Colors.h"
#include "pure/CommandLines.h"
#include "pure/engine/FirmwareJob.h"

#include <algorithm>

using namespace quenta;
using quenta::fuzzing::require;

namespace {

const std::vector<std::string> kTable = {":020000040000FA", ":0100000055AA", ":00000001FF"};

// The line's number from 1, negative in verify form; 0 for what is no line of the table.
int lineOf(std::string_view command) {
    for (std::size_t i = 0; i < kTable.size(); ++i) {
        if (command == downloadLine(kTable[i])) {
            return static_cast<int>(i + 1);
        }
        if (command == verifyLine(kTable[i])) {
            return -static_cast<int>(i + 1);
        }
    }
    return 0;
}

struct Watch {
    bool verifyAlone = false;
    bool readSinceLine = true; // the job's first line needs no answer before it
    std::vector<int> lines;    // every line sent, in order
    bool ended = false;

    void take(const FirmwareJob &job, const JobView &view) {
        for (const std::string &command : view.lines) {
            const int line = lineOf(command);
            require(line != 0, "what went out is not a line of the table");
            require(!verifyAlone || line < 0, "a verify alone sent a download line");
            require(readSinceLine, "a line went out without an answer since the line before");
            require(!ended, "a line went out after the job ended");
            readSinceLine = false;
            lines.push_back(line);
        }
        require(job.LineIndex >= 0 && job.LineIndex <= job.LineCount,
                "the line index left the table");
        if (view.barColor == VbColor::Green) {
            const auto first = std::find(lines.rbegin(), lines.rend(), -1);
            require(first != lines.rend() &&
                        std::vector<int>(lines.rbegin(), first + 1) == std::vector<int>{-3, -2, -1},
                    "END after a verify pass that did not send every line once, in order");
        }
        ended = ended || !job.running();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzzing::InputBytes input(data, size);
    const std::uint8_t flags = input.byte();
    const std::uint8_t address = input.byte();
    Watch watch;
    watch.verifyAlone = (flags & 0x01) != 0;
    FirmwareJob job;
    job.load(kTable, watch.verifyAlone);
    Micros now = 0;
    std::optional<Micros> alarm;
    const auto run = [&](const JobView &view) {
        watch.take(job, view);
        if (view.timerMs) {
            alarm = *view.timerMs > 0 ? std::optional(now + Micros{*view.timerMs} * 1000)
                                      : std::nullopt;
        }
    };
    run(job.start((flags & 0x02) != 0 ? std::optional(address) : std::nullopt, now));
    while (!input.atEnd()) {
        now += Micros{input.byte()} * 1000;
        const std::string read = input.chunk();
        if (!read.empty()) {
            watch.readSinceLine = true;
            run(job.received(read, now));
        } else if (job.answerPending()) {
            run(job.quiet(now));
        }
        if (alarm && *alarm <= now) {
            alarm.reset();
            run(job.timerFired(now));
        }
    }
    return 0;
}
