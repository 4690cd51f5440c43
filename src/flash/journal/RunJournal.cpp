#include "flash/journal/RunJournal.h"

#include "io/journal/Journal.h"

namespace quenta::flash {

JournalResult<std::unique_ptr<RunJournal>> RunJournal::open(const JournalPlace &place,
                                                            RunFacts facts, int reconnectMs) {
    auto journal = Journal::open(place, reconnectMs);
    if (!journal) {
        return JournalResult<std::unique_ptr<RunJournal>>::failure(journal.error);
    }
    return {std::make_unique<RunJournal>(std::move(*journal), std::move(facts)), {}};
}

RunJournal::RunJournal(std::unique_ptr<Journal> journal, RunFacts facts)
    : journal_(std::move(journal)), facts_(std::move(facts)) {}

RunJournal::~RunJournal() = default;

bool RunJournal::failed(const QString &why) {
    problem_ = why;
    return false;
}

bool RunJournal::takeSerial(std::uint64_t first, std::uint64_t largest, BoardReport &board) {
    if (!problem_.isEmpty()) {
        return false;
    }
    const auto number = journal_->takeSerial(facts_.series, first, board.journal, largest);
    if (!number) {
        return failed(number.error);
    }
    board.serial = *number;
    return true;
}

QString RunJournal::shown() const {
    return journal_->place().shown();
}

void RunJournal::notReported() {
    for (const qint64 id : completed_) {
        if (!problem_.isEmpty()) {
            return;
        }
        if (const QString why = journal_->raiseExit(id, kNotRecorded); !why.isEmpty()) {
            failed(why);
        }
    }
}

bool RunJournal::start(BoardReport &board, const PortIdentity &identity) {
    if (!problem_.isEmpty()) {
        return false;
    }
    JobStart job;
    job.station = facts_.station;
    job.operatorName = facts_.operatorName;
    job.tool = facts_.tool;
    job.command = facts_.command;
    job.port = board.port;
    job.device = identity.device;
    job.usbId = identity.usbId;
    job.usbSerial = identity.usbSerial;
    job.address = board.address;
    job.firmware = facts_.firmware;
    job.firmwareSha256 = facts_.firmwareSha256;
    job.records = facts_.records;
    job.recipe = facts_.recipe;
    job.recipeSha256 = facts_.recipeSha256;
    const auto id = journal_->start(job);
    if (!id) {
        return failed(id.error);
    }
    board.journal = *id;
    return true;
}

void RunJournal::complete(const BoardReport &board, int exit, const PortIdentity &identity) {
    if (!board.journal || !problem_.isEmpty()) {
        return;
    }
    const std::string_view result = resultName(board.result);
    JobEnd end;
    end.seconds = board.seconds;
    end.bootloader = board.version;
    end.result = QString::fromLatin1(result.data(), static_cast<qsizetype>(result.size()));
    end.exit = exit;
    end.lines = board.lines;
    end.retries = board.retries;
    end.verifyPasses = board.verifyPasses;
    end.resumed = board.resumed;
    end.message = board.message;
    end.device = identity.device;
    end.usbId = identity.usbId;
    end.usbSerial = identity.usbSerial;
    if (const QString why = journal_->complete(*board.journal, end); !why.isEmpty()) {
        failed(why);
        return;
    }
    completed_.push_back(*board.journal);
}

} // namespace quenta::flash
