#include "pure/engine/FirmwareJob.h"

#include "pure/Colors.h"

namespace quenta {

void FirmwareJob::load(std::vector<std::string> lines, bool verifyAlone) {
    if (HexLines.size() < lines.size() + 1) {
        HexLines.resize(lines.size() + 1);
    }
    std::copy(lines.begin(), lines.end(), HexLines.begin() + 1);
    LineCount = static_cast<std::int16_t>(lines.size());
    records_ = std::move(lines);
    verifyAlone_ = verifyAlone;
    engine_.reset();
    LineIndex = 0;
    VerifyMode = verifyAlone ? 1 : 0;
    TransferRequested = 1;
    FileLoaded = 1;
}

JobView FirmwareJob::start(std::optional<std::uint8_t> address, Micros now) {
    BoardTask task;
    task.kind = verifyAlone_ ? JobKind::Verify : JobKind::Flash;
    task.records = &records_;
    task.address = address;
    task.patience = kWindowPatience;
    task.probeFirst = false;
    task.frontEndFrames = true;
    engine_ = std::make_unique<BoardEngine>(task);
    shownPass_ = verifyAlone_ ? Pass::Verify : Pass::Download;
    return view(engine_->start(now));
}

JobView FirmwareJob::received(std::string_view bytes, Micros now) {
    return running() ? view(engine_->received(bytes, now)) : JobView{};
}

JobView FirmwareJob::quiet(Micros now) {
    return running() ? view(engine_->quiet(now)) : JobView{};
}

JobView FirmwareJob::timerFired(Micros now) {
    return running() ? view(engine_->timerFired(now)) : JobView{};
}

void FirmwareJob::stop() {
    engine_.reset();
    VerifyMode = 0;
    FileLoaded = 0;
}

JobView FirmwareJob::view(Step step) {
    JobView shown;
    shown.lines = std::move(step.send);
    shown.timerMs = step.timerMs;
    if (!shown.lines.empty()) {
        if (engine_->pass() == Pass::Download) {
            shown.barText = "DOWNLOAD";
        } else if (shownPass_ == Pass::Download) {
            shown.barText = "VERIFY";
        }
        shownPass_ = engine_->pass();
        const auto line = static_cast<std::int16_t>(engine_->lineOut());
        shown.barValue = line;
        LineIndex = line == LineCount ? std::int16_t{0} : line;
        VerifyMode = engine_->pass() == Pass::Verify ? 1 : 0;
    }
    if (!step.end) {
        return shown;
    }
    VerifyMode = 0;
    FileLoaded = 0;
    shown.end = step.end;
    const JobOutcome &end = *step.end;
    if (end.result == JobResult::Ok) {
        shown.barText = "END";
        shown.barColor = VbColor::Green;
        return shown;
    }
    shown.barText = "ERROR";
    shown.barColor = VbColor::Red;
    if (end.answer != Keyword::Error) {
        shown.answerBox = end.message;
    }
    return shown;
}

} // namespace quenta
