#include "pure/engine/BoardEngine.h"

namespace quenta {
namespace {

const std::string kNoVersion;
const std::vector<FoundBoard> kNoBoards;

} // namespace

BoardEngine::BoardEngine(BoardTask task) {
    if (task.kind == JobKind::Scan) {
        scan_.emplace(std::move(task));
    } else {
        job_.emplace(std::move(task));
    }
}

Step BoardEngine::start(Micros now) {
    return job_ ? job_->start(now) : scan_->start(now);
}

Step BoardEngine::received(std::string_view bytes, Micros now) {
    return job_ ? job_->received(bytes, now) : scan_->received(bytes, now);
}

Step BoardEngine::quiet(Micros now) {
    return job_ ? job_->quiet(now) : scan_->quiet(now);
}

Step BoardEngine::timerFired(Micros now) {
    return job_ ? job_->timerFired(now) : scan_->timerFired(now);
}

Step BoardEngine::portLost(std::string_view why, Micros now) {
    return job_ ? job_->portLost(why, now) : scan_->portLost(why, now);
}

Step BoardEngine::portBack(Micros now) {
    return job_ ? job_->portBack(now) : scan_->portBack(now);
}

Step BoardEngine::interrupt() {
    return job_ ? job_->interrupt() : scan_->interrupt();
}

bool BoardEngine::done() const {
    return job_ ? job_->done() : scan_->done();
}

bool BoardEngine::answerPending() const {
    return job_ ? job_->answerPending() : scan_->answerPending();
}

const std::string &BoardEngine::version() const {
    return job_ ? job_->version() : kNoVersion;
}

Pass BoardEngine::pass() const {
    return job_ ? job_->pass() : Pass::Download;
}

bool BoardEngine::passStarted() const {
    return job_ && job_->passStarted();
}

std::size_t BoardEngine::linesDone() const {
    return job_ ? job_->linesDone() : 0;
}

std::size_t BoardEngine::lines() const {
    return job_ ? job_->lines() : 0;
}

std::size_t BoardEngine::lineOut() const {
    return job_ ? job_->lineOut() : 0;
}

int BoardEngine::commands() const {
    return job_ ? job_->commands() : 0;
}

int BoardEngine::retries() const {
    return job_ ? job_->retries() : 0;
}

int BoardEngine::resumed() const {
    return job_ ? job_->resumed() : scan_->resumed();
}

int BoardEngine::verifyPasses() const {
    return job_ ? job_->verifyPasses() : 0;
}

const std::vector<FoundBoard> &BoardEngine::found() const {
    return scan_ ? scan_->found() : kNoBoards;
}

} // namespace quenta
