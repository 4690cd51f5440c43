#include "flash/BoardJob.h"

#include "pure/Answers.h"
#include "pure/CommandLines.h"

namespace quenta::flash {
namespace {

// How often a port that went away is looked for again.
constexpr int kReconnectPollMs = 50;

QString shown(const std::string &answer) {
    return QString::fromLatin1(answer.data(), static_cast<qsizetype>(answer.size())).trimmed();
}

QString seconds(int ms) {
    return QString::number(ms / 1000.0, 'g', 6);
}

} // namespace

BoardJob::BoardJob(FlashPort &port, JobPlan plan, ProgressDisplay &progress, QObject *parent)
    : QObject(parent), port_(port), plan_(std::move(plan)), progress_(progress),
      conversation_(port, plan_.address, plan_.patience) {
    reconnectTimer_.setInterval(kReconnectPollMs);
    connect(&reconnectTimer_, &QTimer::timeout, this, &BoardJob::tryReconnect);
    connect(&conversation_, &Conversation::answered, this, &BoardJob::onAnswered);
    connect(&conversation_, &Conversation::silent, this, &BoardJob::onSilent);
    connect(&port_, &FlashPort::lost, this, &BoardJob::onLost);
    report_.port = port.path();
    if (plan_.address) {
        report_.address = *plan_.address;
    }
    if (plan_.records) {
        report_.lines = static_cast<int>(plan_.records->size());
    }
}

void BoardJob::start() {
    clock_.start();
    progressLine_ = progress_.addBoard(boardName());
    phase_ = Phase::Probing;
    conversation_.probe(QDeadlineTimer(plan_.waitMs));
}

bool BoardJob::resumes() const {
    return plan_.command == Command::Flash || plan_.command == Command::Verify;
}

void BoardJob::onAnswered(const std::string &text) {
    switch (phase_) {
    case Phase::Probing:
        report_.version = shown(text);
        if (passStarted_) {
            ++report_.resumed;
            phase_ = Phase::Lines;
            sendLine();
        } else {
            begin();
        }
        break;
    case Phase::Single:
        onSingleAnswer(text);
        break;
    case Phase::Lines:
        onLineAnswer(text);
        break;
    case Phase::Reconnecting:
    case Phase::Done:
        break;
    }
}

void BoardJob::begin() {
    switch (plan_.command) {
    case Command::Flash:
        startPass(Pass::Download, {});
        break;
    case Command::Verify:
        startPass(Pass::Verify, {});
        break;
    case Command::Install:
        phase_ = Phase::Single;
        conversation_.ask(std::string(kInstallCommand));
        break;
    case Command::SetAddress:
        phase_ = Phase::Single;
        conversation_.ask(*setAddressLine(std::to_string(plan_.newAddress)).line);
        break;
    case Command::Check:
        finish(Result::Ok, QStringLiteral("%1 at %2 baud, bootloader %3")
                               .arg(report_.port)
                               .arg(plan_.baud)
                               .arg(report_.version));
        break;
    case Command::Version:
    case Command::Scan:
    case Command::Ports:
        finish(Result::Ok, report_.version);
        break;
    }
}

void BoardJob::onSingleAnswer(const std::string &text) {
    if (findKeyword(text) != Keyword::Ok) {
        finish(Result::Refused, QStringLiteral("the board answered \"%1\"").arg(shown(text)));
    } else if (plan_.command == Command::Install) {
        finish(Result::Ok, QStringLiteral("the firmware was started"));
    } else {
        finish(Result::Ok, QStringLiteral("the board's address is now %1").arg(plan_.newAddress));
    }
}

void BoardJob::startPass(Pass pass, ResumePoint point) {
    pass_ = pass;
    passStarted_ = true;
    cursor_ = point.from;
    addressFirst_ = point.addressRecord;
    passClock_.start();
    phase_ = Phase::Lines;
    sendLine();
}

std::size_t BoardJob::lineInFlight() const {
    return (addressFirst_ ? *addressFirst_ : cursor_) + 1;
}

void BoardJob::sendLine() {
    const std::string &record = (*plan_.records)[lineInFlight() - 1];
    conversation_.ask(pass_ == Pass::Download ? downloadLine(record) : verifyLine(record));
}

void BoardJob::onLineAnswer(const std::string &text) {
    const std::size_t total = plan_.records->size();
    const std::size_t line = lineInFlight();
    const Keyword keyword = findKeyword(text);
    if (keyword == Keyword::Ok && addressFirst_) {
        addressFirst_.reset();
        sendLine();
    } else if (keyword == Keyword::Ok && line < total) {
        ++cursor_;
        showProgress();
        sendLine();
    } else if (keyword == Keyword::Download && line == total && pass_ == Pass::Download) {
        startPass(Pass::Verify, {});
    } else if (keyword == Keyword::Download && line == total) {
        finish(Result::Ok, plan_.command == Command::Flash
                               ? QStringLiteral("downloaded and verified")
                               : QStringLiteral("verified"));
    } else if (keyword == Keyword::Ok) {
        finish(Result::Refused, QStringLiteral("line %1, the last: the board answered \"OK\" and "
                                               "never reported the end of the file")
                                    .arg(line));
    } else if (keyword == Keyword::Download) {
        finish(Result::Refused, QStringLiteral("line %1: the board reported the end of the file "
                                               "before the last line, %2")
                                    .arg(line)
                                    .arg(total));
    } else {
        finish(Result::Refused,
               QStringLiteral("line %1: %2the board answered \"%3\"")
                   .arg(line)
                   .arg(pass_ == Pass::Verify ? QStringLiteral("verify: ") : QString())
                   .arg(shown(text)));
    }
}

QString BoardJob::boardName() const {
    return report_.address ? QStringLiteral("%1 #%2").arg(report_.port).arg(*report_.address)
                           : report_.port;
}

void BoardJob::showProgress() {
    progress_.update(progressLine_,
                     {boardName(), pass_, plan_.command == Command::Verify, cursor_,
                      plan_.records->size(), static_cast<double>(passClock_.elapsed()) / 1000.0});
}

void BoardJob::onSilent() {
    const int tries = plan_.patience.retries + 1;
    switch (phase_) {
    case Phase::Probing:
        finish(Result::NoAnswer,
               QStringLiteral("the bootloader did not answer within %1 s: check the speed (%2 "
                              "baud), the Modbus setting and the address; power the board")
                   .arg(seconds(plan_.waitMs))
                   .arg(plan_.baud));
        break;
    case Phase::Single:
        finish(Result::NoAnswer, QStringLiteral("no answer after %1 tries").arg(tries));
        break;
    case Phase::Lines:
        finish(Result::NoAnswer,
               QStringLiteral("line %1: no answer after %2 tries").arg(lineInFlight()).arg(tries));
        break;
    case Phase::Reconnecting:
    case Phase::Done:
        break;
    }
}

void BoardJob::onLost(const QString &why) {
    if (phase_ == Phase::Done || phase_ == Phase::Reconnecting) {
        return;
    }
    conversation_.stop();
    lostWhy_ = passStarted_ ? QStringLiteral("at line %1 of the %2 (%3)")
                                  .arg(lineInFlight())
                                  .arg(pass_ == Pass::Download ? QStringLiteral("download")
                                                               : QStringLiteral("verify"))
                                  .arg(why)
                            : QStringLiteral("(%1)").arg(why);
    if (!resumes()) {
        finish(Result::PortLost, QStringLiteral("the port went away %1").arg(lostWhy_));
        return;
    }
    if (phase_ == Phase::Lines) {
        const ResumePoint point = resumePoint(*plan_.records, cursor_, pass_);
        cursor_ = point.from;
        addressFirst_ = point.addressRecord;
    }
    phase_ = Phase::Reconnecting;
    reconnectDeadline_.setRemainingTime(plan_.waitMs);
    reconnectTimer_.start();
}

void BoardJob::tryReconnect() {
    if (port_.open().kind == PortProblem::Kind::None) {
        reconnectTimer_.stop();
        phase_ = Phase::Probing;
        conversation_.probe(QDeadlineTimer(plan_.waitMs));
    } else if (reconnectDeadline_.hasExpired()) {
        reconnectTimer_.stop();
        finish(Result::PortLost, QStringLiteral("the port went away %1 and did not come back "
                                                "within %2 s")
                                     .arg(lostWhy_, seconds(plan_.waitMs)));
    }
}

void BoardJob::finish(Result result, const QString &message) {
    phase_ = Phase::Done;
    conversation_.stop();
    reconnectTimer_.stop();
    report_.result = result;
    report_.message = message;
    report_.commands = conversation_.commands();
    report_.retries = conversation_.retries();
    report_.seconds = static_cast<double>(clock_.elapsed()) / 1000.0;
    if (passStarted_) {
        showProgress();
    }
    emit finished();
}

} // namespace quenta::flash
