#include "flash/jobs/BoardResults.h"

namespace quenta::flash {

BoardResults::BoardResults(RunJournal *journal, EventLines *events)
    : journal_(journal), events_(events) {}

bool BoardResults::start(BoardReport &board, const PortIdentity &device) {
    if (journal_ && !journal_->start(board, device)) {
        return false;
    }
    if (events_) {
        events_->start(board);
    }
    return true;
}

bool BoardResults::number(BoardReport &board, std::uint64_t first, std::uint64_t largest) {
    return journal_ == nullptr || journal_->takeSerial(first, largest, board);
}

void BoardResults::end(const BoardReport &board, int signal, const PortIdentity &device) {
    if (journal_) {
        journal_->complete(board, boardExit(board, signal), device);
    }
    if (events_) {
        events_->board(board);
    }
    reports_.push_back(board);
}

} // namespace quenta::flash
