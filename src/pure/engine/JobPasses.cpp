#include "pure/engine/JobConversation.h"

#include "pure/CommandLines.h"

// The passes over the file: each line sent once its turn comes, judged by the answer that follows
// it, and the verdict on the pass.
namespace quenta {
using wording::PassLine;
using wording::shown;

Step JobConversation::startPass(Pass pass, ResumePoint from) {
    pass_ = PassState(pass, from);
    passStarted_ = true;
    if (pass == Pass::Verify) {
        ++verifyPasses_;
    }
    line_ = {};
    return sendLine(false);
}

Step JobConversation::sendLine(bool again) {
    Step step;
    if (again) {
        ++line_.tries;
        ++retries_;
        disturbed_ = true;
        step = disturb("line " + std::to_string(pass_.line()) + " was sent again");
        if (step.end) {
            return step;
        }
    }
    phase_ = Phase::Lines;
    ++line_.sends;
    ++commands_;
    // Before a re-send, that is the line itself: an answer may be its earlier send's.
    lineBefore_ = lineWritten_;
    lineWritten_ = inFlight();
    line_.sentPosition = reader_.position();
    step.send.push_back(frame(lineCommand()));
    step.timerMs = std::max(task_.patience.timeoutMs, 0);
    return step;
}

Step JobConversation::onLineAnswer(const Answer &answer) {
    const Keyword keyword = findKeyword(answer.text);
    if (keyword == Keyword::Format) {
        // The board's word of what it does: the line's answer is still to come.
        return {};
    }
    const bool early = answer.begin < line_.sentPosition;
    if (keyword == Keyword::Error) {
        return early ? finishRefusal(answer.text, lineBefore_, true)
                     : refuseLine(answer.text, inFlight());
    }
    if (early) {
        return onExtraAnswer(lineBefore_.line > 0
                                 ? "two answers to line " + std::to_string(lineBefore_.line)
                                 : "an answer came before line " + std::to_string(pass_.line()) +
                                       " was out");
    }
    if (keyword == (lastLine() ? Keyword::Download : Keyword::Ok)) {
        return lastLine() ? endOfPass() : advance();
    }
    return onWrongAnswer(keyword, answer.text);
}

Step JobConversation::onExtraAnswer(std::string reason) {
    disturbed_ = true;
    return pass_.pass == Pass::Verify ? disturb(std::move(reason)) : Step{};
}

// An answer that began in time but is not the one the line wants.
Step JobConversation::onWrongAnswer(Keyword keyword, const std::string &text) {
    line_.wrongAnswer = shown(text);
    if (keyword == Keyword::Version || keyword == Keyword::None) {
        // A late answer to a probe, or one that cannot be read: it answers no line.
        return pass_.pass == Pass::Verify ? disturb("an answer that fits no line came while line " +
                                                    std::to_string(pass_.line()) + " was out (\"" +
                                                    *line_.wrongAnswer + "\")")
                                          : Step{};
    }
    if (keyword == Keyword::Download && pass_.pass == Pass::Download) {
        return finish(JobResult::Refused,
                      "line " + std::to_string(pass_.line()) +
                          ": the board reported the end of the file before the last line, " +
                          std::to_string(lines()));
    }
    // It answered an earlier command, or the board is confused: the line goes out again, as for
    // a missing answer.
    if (line_.tries < task_.patience.retries) {
        return sendLine(true);
    }
    return finish(JobResult::Refused, wording::unfitAnswer(pass_.line(), lastLine(), text));
}

Step JobConversation::advance() {
    strays_ = line_.sends - 1;
    strayLine_ = pass_.line();
    pass_.advance();
    line_ = {};
    if (strays_ > 0) {
        // The line was answered after `strays_` re-sends: their answers take as long again.
        phase_ = Phase::Draining;
        return timerStep(lateMs(strays_ + 1));
    }
    return sendLine(false);
}

Step JobConversation::onDrainAnswer(const Answer &answer) {
    const Keyword keyword = findKeyword(answer.text);
    if (keyword == Keyword::Error) {
        return refuseLine(answer.text, {strayLine_, pass_.pass});
    }
    if (keyword == Keyword::Format) {
        return {};
    }
    if (keyword == Keyword::Version || keyword == Keyword::None) {
        return disturb("an answer that fits no line came after line " + std::to_string(strayLine_) +
                       " (\"" + shown(answer.text) + "\")");
    }
    return --strays_ > 0 ? Step{} : sendLine(false);
}

Step JobConversation::lineTimeout() {
    if (line_.tries < task_.patience.retries) {
        return sendLine(true);
    }
    const int tries = task_.patience.retries + 1;
    if (line_.wrongAnswer) {
        return finish(JobResult::Refused, wording::unfitAnswerEveryTry(pass_.line(), lastLine(),
                                                                       *line_.wrongAnswer, tries));
    }
    return finish(JobResult::NoAnswer, "line " + std::to_string(pass_.line()) +
                                           ": no answer after " + std::to_string(tries) + " tries");
}

Step JobConversation::endOfPass() {
    if (pass_.pass == Pass::Download) {
        return disturbed_ ? settle(Next::Verify, true, lateMs()) : startPass(Pass::Verify, {});
    }
    if (!pass_.clean) {
        return voidPass();
    }
    // The board may still answer within the timeout: a verdict it gives only at the end record,
    // or an ERROR that a stray or a copy of an answer had stood in for. Without a timeout, what
    // the same read brought after the end record's answer is all that is heard.
    phase_ = Phase::Closing;
    if (task_.patience.timeoutMs <= 0) {
        closesWithRead_ = true;
        return {};
    }
    return timerStep(task_.patience.timeoutMs);
}

Step JobConversation::passProven() {
    if (++provenPasses_ >= task_.patience.verifyPasses) {
        return finish(JobResult::Ok,
                      task_.kind == JobKind::Flash ? "downloaded and verified" : "verified");
    }
    return startPass(Pass::Verify, {});
}

Step JobConversation::disturb(std::string reason) {
    if (pass_.pass != Pass::Verify) {
        return {};
    }
    if (pass_.clean) {
        pass_.clean = false;
        pass_.disturbance = std::move(reason);
    }
    // In the last pass a job may run, nothing can be proven any more.
    return voidedPasses_ + 1 >= task_.patience.disturbedPasses ? voidPass() : Step{};
}

Step JobConversation::disturbClosing(std::string reason) {
    pass_.clean = false;
    pass_.disturbance = std::move(reason);
    return voidPass();
}

Step JobConversation::voidPass() {
    provenPasses_ = 0;
    ++voidedPasses_;
    if (voidedPasses_ < task_.patience.disturbedPasses) {
        return settle(Next::Verify, true, lateMs());
    }
    return finish(JobResult::Refused,
                  wording::disturbedVerify(pass_.disturbance, voidedPasses_,
                                           task_.patience.disturbedPasses, retries_ > 0,
                                           task_.patience.timeoutMs));
}

Step JobConversation::refuseLine(const std::string &answer, PassLine at) {
    if (task_.patience.timeoutMs <= 0) {
        return finishRefusal(answer, at, false);
    }
    phase_ = Phase::Refusing;
    refusal_ = {answer, at, false};
    return timerStep(task_.patience.timeoutMs);
}

// The quiet after an ERROR ended before its time: whether an answer too many would have come in
// it, which would say that a stray or a copy stood in for an earlier answer, cannot be known.
Step JobConversation::refusalCutShort() {
    return finishRefusal(refusal_.answer, refusal_.at, true);
}

Step JobConversation::finishRefusal(const std::string &answer, PassLine at, bool orEarlier) {
    if (at.line == 0) {
        at.pass = pass_.pass;
    }
    return finish(JobResult::Refused, wording::refusal(answer, at, orEarlier, pass_.line()),
                  findKeyword(answer));
}

} // namespace quenta
