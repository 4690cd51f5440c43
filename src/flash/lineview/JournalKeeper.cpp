#include "flash/lineview/JournalKeeper.h"

namespace quenta::flash {
namespace {

// How long after a failed attempt the journal is tried again: requests in between are answered
// at once that it is away.
constexpr int kRetryMs = 1000;

} // namespace

JournalKeeper::JournalKeeper(JournalPlace place) : place_(std::move(place)) {}

Journal *JournalKeeper::journal() {
    if (journal_ && journal_->isFrozen()) {
        journal_.reset();
    }
    if (!journal_ && nextAttempt_.hasExpired()) {
        auto opened = Journal::openReadOnly(place_);
        if (opened) {
            journal_ = std::move(*opened);
            why_.clear();
        } else {
            why_ = opened.error;
            nextAttempt_.setRemainingTime(kRetryMs);
        }
    }
    return journal_.get();
}

void JournalKeeper::drop(const QString &why) {
    journal_.reset();
    why_ = why;
}

} // namespace quenta::flash
