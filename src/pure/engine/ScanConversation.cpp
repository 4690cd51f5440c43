#include "pure/engine/ScanConversation.h"

#include "pure/CommandLines.h"
#include "pure/engine/Wording.h"

#include <algorithm>

namespace quenta {

ScanConversation::ScanConversation(BoardTask task) : task_(std::move(task)) {
    AddressSet accepted;
    for (const std::uint8_t address : task_.scanAddresses) {
        accepted.set(address);
    }
    reader_.accept(accepted);
}

Step ScanConversation::start(Micros now) {
    now_ = began_ = now;
    return sweep();
}

Step ScanConversation::received(std::string_view bytes, Micros now) {
    now_ = now;
    return done_ || awaiting_ ? Step{} : take(reader_.take(bytes));
}

Step ScanConversation::quiet(Micros now) {
    now_ = now;
    return done_ || awaiting_ ? Step{} : take(reader_.flush());
}

Step ScanConversation::take(const Reading &reading) {
    for (const Answer &answer : reading.answers) {
        const bool known = std::any_of(found_.begin(), found_.end(), [&](const FoundBoard &board) {
            return board.address == answer.address;
        });
        if (findKeyword(answer.text) == Keyword::Version && !known) {
            found_.push_back({*answer.address, wording::shown(answer.text)});
            if (task_.firstOnly) {
                return end();
            }
        }
    }
    return {};
}

Step ScanConversation::timerFired(Micros now) {
    now_ = now;
    if (done_) {
        return {};
    }
    if (awaiting_) {
        return finish(JobResult::PortLost,
                      "the port went away during the scan" +
                          (lostWhy_.empty() ? std::string() : " (" + lostWhy_ + ")") +
                          " and did not come back within " +
                          wording::seconds(task_.patience.waitMs) + " s");
    }
    return sweep();
}

Step ScanConversation::sweep() {
    if (next_ == task_.scanAddresses.size()) {
        if (!found_.empty()) {
            return end();
        }
        if (now_ - began_ >= Micros{task_.patience.waitMs} * 1000) {
            return finish(JobResult::NoAnswer,
                          wording::noBoardOnBus(task_.scanAddresses, task_.baud));
        }
        next_ = 0;
    }
    Step step = timerStep(task_.probeIntervalMs);
    step.send.push_back(modbusFrame(task_.scanAddresses[next_++], kInfoCommand));
    return step;
}

Step ScanConversation::portLost(std::string_view why, Micros now) {
    now_ = now;
    if (done_ || awaiting_) {
        return {};
    }
    reader_.clear();
    lostWhy_ = why;
    if (task_.patience.waitMs <= 0 || resumed_ >= kMaxResumes) {
        return finish(JobResult::PortLost,
                      "the port went away during the scan" +
                          (lostWhy_.empty() ? std::string() : " (" + lostWhy_ + ")"));
    }
    awaiting_ = true;
    Step step = timerStep(task_.patience.waitMs);
    step.awaitPort = true;
    return step;
}

Step ScanConversation::portBack(Micros now) {
    now_ = now;
    if (!awaiting_) {
        return {};
    }
    awaiting_ = false;
    reader_.clear();
    ++resumed_;
    // The sweep starts again, with a wait of its own, as a job's probe does.
    next_ = 0;
    began_ = now;
    return sweep();
}

Step ScanConversation::interrupt() {
    return done_ ? Step{} : finish(JobResult::Interrupted, "interrupted during the scan");
}

Step ScanConversation::end() {
    std::sort(found_.begin(), found_.end(),
              [](const FoundBoard &a, const FoundBoard &b) { return a.address < b.address; });
    return finish(JobResult::Ok, std::to_string(found_.size()) +
                                     (found_.size() == 1 ? " board answered" : " boards answered"));
}

Step ScanConversation::finish(JobResult result, std::string message) {
    done_ = true;
    Step step = timerStep(0);
    step.end = JobOutcome{result, std::move(message), Keyword::None};
    return step;
}

} // namespace quenta
