#include "flash/BoardRecords.h"

namespace quenta::flash {

BoardRecords::BoardRecords(RunJournal *journal, EventLines *events)
    : journal_(journal), events_(events) {}

bool BoardRecords::start(BoardReport &board, const PortIdentity &device) {
    if (journal_ && !journal_->start(board, device)) {
        return false;
    }
    if (events_) {
        events_->start(board);
    }
    return true;
}

bool BoardRecords::number(BoardReport &board, std::uint64_t first, std::uint64_t largest) {
    return journal_ == nullptr || journal_->takeSerial(first, largest, board);
}

void BoardRecords::end(const BoardReport &board, int signal, const PortIdentity &device) {
    if (journal_) {
        journal_->complete(board, boardExit(board, signal), device);
    }
    if (events_) {
        events_->board(board);
    }
    reports_.push_back(board);
}

} // namespace quenta::flash
