#include "pure/FirmwareJob.h"

#include "pure/Answers.h"
#include "pure/Colors.h"
#include "pure/CommandLines.h"

namespace quenta {

void FirmwareJob::load(std::vector<std::string> lines, bool verifyAlone) {
    HexLines.resize(1);
    HexLines.insert(HexLines.end(), std::make_move_iterator(lines.begin()),
                    std::make_move_iterator(lines.end()));
    LineCount = static_cast<std::int16_t>(lines.size());
    LineIndex = 0;
    VerifyMode = verifyAlone ? 1 : 0;
    TransferRequested = 1;
    FileLoaded = 1;
}

std::optional<LineSend> FirmwareJob::nextLine() {
    if (LineCount < 1) {
        return std::nullopt;
    }
    LineSend send;
    if (VerifyMode != 1) {
        send.barText = "DOWNLOAD";
    }
    if (LineIndex < 0 || LineIndex >= LineCount) {
        LineIndex = 0;
    }
    ++LineIndex;
    const std::string &entry = HexLines[static_cast<std::size_t>(LineIndex)];
    send.command = VerifyMode == 1 ? verifyLine(entry) : downloadLine(entry);
    send.barValue = LineIndex;
    if (LineIndex == LineCount) {
        LineIndex = 0;
    }
    return send;
}

AnswerEffects FirmwareJob::answer(std::string_view text) {
    AnswerEffects effects;
    switch (findKeyword(text)) {
    case Keyword::Version:
        effects.stopProbing = true;
        effects.status = "READY";
        effects.sendNextLine = TransferRequested == 1 && FileLoaded == 1;
        break;
    case Keyword::Error:
        // An error ends the job: nothing more is sent until a new download or verify starts one.
        effects.barText = "ERROR";
        effects.barColor = VbColor::Red;
        VerifyMode = 0;
        FileLoaded = 0;
        break;
    case Keyword::Download:
        if (VerifyMode == 1) {
            effects.barText = "END";
            effects.barColor = VbColor::Green;
            VerifyMode = 0;
            FileLoaded = 0;
        } else if (FileLoaded == 1) {
            effects.barText = "VERIFY";
            VerifyMode = 1;
            LineIndex = 0;
            effects.sendNextLine = true;
        }
        break;
    case Keyword::Format:
        effects.barText = "";
        effects.barValue = 0;
        break;
    case Keyword::Ok:
        // An "OK" to a single command must not start writing the firmware again.
        effects.sendNextLine = FileLoaded == 1;
        break;
    case Keyword::None:
        break;
    }
    return effects;
}

void FirmwareJob::stop() {
    VerifyMode = 0;
    FileLoaded = 0;
}

} // namespace quenta
