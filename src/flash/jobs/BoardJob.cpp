#include "flash/jobs/BoardJob.h"

namespace quenta::flash {
namespace {

QString text(const std::string &bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// What a lost port's sentence adds to "the port went away": the system's words after "DEVICE went
// away: ", or nothing.
QString detail(QString why, const QString &device) {
    const QString plain = device + QStringLiteral(" went away");
    if (why.endsWith(QLatin1Char('.'))) {
        why.chop(1);
    }
    if (why == plain) {
        return {};
    }
    return why.startsWith(plain + QStringLiteral(": ")) ? why.mid(plain.size() + 2) : why;
}

} // namespace

BoardJob::BoardJob(SerialPort &port, BoardTask task, BoardReport head, ProgressDisplay &progress,
                   QObject *parent)
    : QObject(parent), port_(port), task_(task), engine_(task), progress_(progress),
      report_(std::move(head)) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        // What already waits in the device is read first: the timer must not run out on an
        // answer that has come.
        const std::uint64_t generation = timerGeneration_;
        port_.readWaiting();
        if (generation == timerGeneration_ && !engine_.done()) {
            apply(engine_.timerFired(now()));
        }
    });
    quiet_.setSingleShot(true);
    quiet_.setInterval(kLooseAnswerQuietMs);
    connect(&quiet_, &QTimer::timeout, this, [this] {
        port_.readWaiting();
        if (!quiet_.isActive() && !engine_.done()) {
            apply(engine_.quiet(now()));
        }
    });
    connect(&port_, &SerialPort::received, this, [this](const QByteArray &bytes) {
        apply(engine_.received(
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), now()));
        watchQuiet();
    });
    connect(&port_, &SerialPort::lost, this, [this](const QString &why) {
        apply(engine_.portLost(detail(why, port_.device()).toStdString(), now()));
    });
    report_.lines = static_cast<int>(engine_.lines());
}

void BoardJob::start() {
    clock_.start();
    passClock_.start();
    if (task_.kind != JobKind::Scan) {
        progressLine_ = progress_.addBoard(boardName());
    }
    apply(engine_.start(now()));
}

void BoardJob::portBack() {
    apply(engine_.portBack(now()));
}

void BoardJob::interrupt() {
    apply(engine_.interrupt());
}

void BoardJob::apply(Step step) {
    for (const std::string &bytes : step.send) {
        port_.write(bytes);
    }
    if (step.timerMs) {
        ++timerGeneration_;
        timer_.stop();
        if (*step.timerMs > 0) {
            timer_.start(*step.timerMs);
        }
    }
    if (step.awaitPort) {
        port_.close();
        emit portWanted();
    }
    showProgress(step.end && step.end->result == JobResult::Ok);
    if (!step.end) {
        return;
    }
    timer_.stop();
    quiet_.stop();
    port_.disconnect(this);
    report_.result = step.end->result;
    report_.message = text(step.end->message);
    report_.version = text(engine_.version());
    report_.commands = engine_.commands();
    report_.retries = engine_.retries();
    report_.resumed = engine_.resumed();
    report_.verifyPasses = engine_.verifyPasses();
    report_.seconds = static_cast<double>(clock_.elapsed()) / 1000.0;
    emit finished();
}

void BoardJob::watchQuiet() {
    if (engine_.answerPending()) {
        quiet_.start();
    } else {
        quiet_.stop();
    }
}

Micros BoardJob::now() const {
    return clock_.isValid() ? clock_.nsecsElapsed() / 1000 : 0;
}

QString BoardJob::boardName() const {
    return report_.address
               ? QStringLiteral("%1 #%2").arg(report_.port, QString::number(*report_.address))
               : report_.port;
}

void BoardJob::showProgress(bool complete) {
    if (!engine_.passStarted()) {
        return;
    }
    if (engine_.pass() != shownPass_) {
        shownPass_ = engine_.pass();
        passClock_.restart();
    }
    progress_.update(progressLine_,
                     {boardName(), engine_.pass(), task_.kind == JobKind::Verify,
                      complete ? engine_.lines() : engine_.linesDone(), engine_.lines(),
                      static_cast<double>(passClock_.elapsed()) / 1000.0});
    emit progressed(engine_.pass(), engine_.linesDone(), engine_.lines());
}

} // namespace quenta::flash
