#include "flash/jobs/FlashRun.h"

#include "io/system/Terminal.h"

#include "flash/journal/RecipeCheck.h"
#include "io/journal/Journal.h"
#include "io/port/AdapterLatency.h"
#include "io/port/PortDiscovery.h"
#include "pure/SerialNumber.h"

#include <QFileInfo>

#include <cmath>
#include <utility>

namespace quenta::flash {

namespace {

JobKind jobKind(Command command) {
    switch (command) {
    case Command::Flash:
        return JobKind::Flash;
    case Command::Verify:
        return JobKind::Verify;
    case Command::Install:
        return JobKind::Install;
    case Command::SetAddress:
        return JobKind::SetAddress;
    case Command::Version:
    case Command::Scan:
    case Command::Check:
    case Command::Ports:
    case Command::Log:
    case Command::Serve:
        break;
    }
    return JobKind::Version;
}

// An adapter whose latency timer is at most this is fast enough for a line-per-answer protocol.
constexpr int kFastLatencyMs = 2;

// How often a port that has not appeared yet, or has gone away, is looked for.
constexpr int kOpenPollMs = 50;

// How long a scan waits for an answer from one address: 50 ms at 115200 baud, and at a slower
// speed as much longer as a probe and its answer (32 bytes together) take longer on that wire.
int scanWindowMs(int baud) {
    constexpr int kWindowAt115200Ms = 50;
    constexpr int kExchangeBytes = 32;
    const auto wireMs = [](int b) { return kExchangeBytes * 10 * 1000.0 / b; };
    return kWindowAt115200Ms + static_cast<int>(std::ceil(wireMs(baud) - wireMs(115200)));
}

const QString kUsbPrefix = QStringLiteral("usb:");

QString missingAdvice() {
    const QStringList ports = discoverPorts(defaultPortPlaces());
    return ports.isEmpty()
               ? QStringLiteral(" No serial port was found.")
               : QStringLiteral(" Ports found: %1.").arg(ports.join(QStringLiteral(", ")));
}

bool withFile(Command command) {
    return command == Command::Flash || command == Command::Verify;
}

} // namespace

PortRun::PortRun(const QString &path, const RunShared &shared, QObject *parent)
    : QObject(parent), path_(path), shared_(shared), settings_(shared.settings),
      unshown_(standardError(), false), results_(shared.journal, shared.events) {
    if (!path_.startsWith(kUsbPrefix)) {
        port_ = std::make_unique<SerialPort>(path_, settings_.baud);
    }
    openTimer_.setSingleShot(true);
    openTimer_.setInterval(kOpenPollMs);
    connect(&openTimer_, &QTimer::timeout, this, &PortRun::tryOpen);
}

void PortRun::start() {
    if (!settings_.modbus) {
        targets_ = {std::nullopt};
    } else if (settings_.addresses.kind == AddressChoice::Kind::List) {
        targets_.assign(settings_.addresses.list.begin(), settings_.addresses.list.end());
    }
    if (!shared_.firmware.problem.isEmpty()) {
        endAll(JobResult::BadFile, shared_.firmware.problem);
        return;
    }
    openDeadline_.setRemainingTime(settings_.waitMs);
    tryOpen();
}

PortProblem PortRun::openPort() {
    if (!port_) {
        const QString serial = path_.mid(kUsbPrefix.size());
        const auto found = findUsbPort(serial);
        if (!found) {
            return {PortProblem::Kind::Missing,
                    QStringLiteral("No USB serial port has the serial number %1.").arg(serial)};
        }
        port_ = std::make_unique<SerialPort>(*found, settings_.baud);
    }
    return port_->open();
}

bool PortRun::jobWaiting() const {
    return job_ && !job_->done();
}

// The one place the port is opened: at the start, and while a job waits for it to come back (the
// job's engine says when it has waited long enough).
void PortRun::tryOpen() {
    const PortProblem problem = openPort();
    if (problem.kind == PortProblem::Kind::None) {
        if (jobWaiting()) {
            job_->portBack();
        } else {
            opened();
        }
        return;
    }
    // A board on USB brings its port when powered, and udev gives the port its group a moment
    // later: until the wait is over, any failure may yet mend itself.
    if (jobWaiting() || (settings_.usb && !openDeadline_.hasExpired())) {
        openTimer_.start();
        return;
    }
    QString reason = problem.reason;
    if (problem.kind == PortProblem::Kind::Missing) {
        reason += missingAdvice();
    }
    checkOpenFailure({problem.kind, reason});
    endAll(JobResult::PortError, reason);
}

void PortRun::checkOpenFailure(const PortProblem &problem) {
    if (problem.kind == PortProblem::Kind::Missing) {
        check(QStringLiteral("exists"), false, problem.reason);
        return;
    }
    check(QStringLiteral("exists"), true, QStringLiteral("it is there"));
    if (problem.kind == PortProblem::Kind::Permission) {
        check(QStringLiteral("permission"), false, problem.reason);
    } else if (problem.kind == PortProblem::Kind::Busy) {
        check(QStringLiteral("free"), false, problem.reason);
    } else {
        check(QStringLiteral("open"), false, problem.reason);
    }
}

// A USB serial adapter holds what the board sends until its latency timer runs out; at 16 ms a
// flash takes about three times as long as the wire needs.
void PortRun::checkLatency() {
    const std::optional<int> latency = adapterLatencyMs(port_->device());
    if (!latency) {
        return;
    }
    const QString tty = QFileInfo(port_->device()).fileName();
    check(QStringLiteral("latency"), *latency <= kFastLatencyMs,
          *latency <= kFastLatencyMs
              ? QStringLiteral("the adapter hands answers over after %1 ms").arg(*latency)
              : QStringLiteral("the adapter holds answers up to %1 ms, which slows a flash about "
                               "threefold; the flasher asks the driver for low latency, and where "
                               "that does not take: echo 1 > /sys/bus/usb-serial/devices/%2/"
                               "latency_timer as root, or the udev rule in the README")
                    .arg(*latency)
                    .arg(tty));
}

void PortRun::check(const QString &name, bool ok, const QString &message) {
    if (settings_.command == Command::Check) {
        checks_.push_back({path_, name, ok, message});
    }
}

void PortRun::opened() {
    // Each finding's line names the port already.
    check(QStringLiteral("exists"), true, QStringLiteral("it is there"));
    check(QStringLiteral("permission"), true, QStringLiteral("it may be read and written"));
    check(QStringLiteral("free"), true, QStringLiteral("no other program holds it"));
    checkLatency();
    if (settings_.modbus && targets_.empty()) {
        scan();
        return;
    }
    nextBoard();
}

BoardTask PortRun::newTask(JobKind kind) const {
    BoardTask task;
    task.kind = kind;
    task.patience = {settings_.timeoutMs, settings_.retries, settings_.waitMs,
                     settings_.verifyPasses, kMaxDisturbedPasses};
    task.baud = settings_.baud;
    return task;
}

// Looks for the boards on the bus: through the addresses asked for, else 1..127 until the first
// board answers.
void PortRun::scan() {
    const AddressChoice &choice = settings_.addresses;
    BoardTask task = newTask(JobKind::Scan);
    for (int address = choice.from; address <= choice.to; ++address) {
        task.scanAddresses.push_back(static_cast<std::uint8_t>(address));
    }
    task.firstOnly =
        settings_.command != Command::Scan && choice.kind == AddressChoice::Kind::First;
    task.probeIntervalMs = scanWindowMs(settings_.baud);
    runJob(task, newReport(std::nullopt), &PortRun::scanned, shared_.progress);
}

void PortRun::scanned() {
    const BoardReport scan = job_->report();
    if (scan.result != JobResult::Ok) {
        if (scan.result == JobResult::NoAnswer) {
            check(QStringLiteral("bootloader"), false, scan.message);
        }
        endAll(scan.result, scan.message);
        return;
    }
    for (const FoundBoard &board : job_->found()) {
        targets_.push_back(board.address);
    }
    if (settings_.command != Command::Scan) {
        nextBoard();
        return;
    }
    for (const FoundBoard &board : job_->found()) {
        BoardReport report = newReport(board.address);
        report.version =
            QString::fromLatin1(board.version.data(), static_cast<qsizetype>(board.version.size()));
        report.message = report.version;
        begin(report);
        finish(report);
    }
    targets_.clear();
    endAll(JobResult::Ok, {});
}

BoardReport PortRun::newReport(std::optional<std::uint8_t> address) const {
    BoardReport report;
    report.port = path_;
    if (address) {
        report.address = *address;
    }
    report.lines = static_cast<int>(shared_.firmware.records.size());
    if (withFile(settings_.command)) {
        report.firmwareSha256 = shared_.firmware.sha256;
    }
    return report;
}

PortIdentity PortRun::identity() const {
    if (!port_) {
        return {};
    }
    const QString device = resolvePortPath(port_->path());
    return device == started_.device ? started_ : identifyPort(port_->path());
}

bool PortRun::begin(BoardReport &board) {
    started_ = identity();
    return results_.start(board, started_);
}

void PortRun::finish(const BoardReport &board) {
    results_.end(board, signal_, identity());
}

QString PortRun::stamp(std::uint64_t serial) {
    const SerialStamp &how = *settings_.serial;
    StampedRecords stamped = stampBytes(shared_.firmware.records, how.address,
                                        serialBytes(serial, how.bytes, how.format).value());
    stamped_ = std::move(stamped.records);
    return QString::fromStdString(stamped.fault);
}

void PortRun::nextBoard() {
    if (targets_.empty()) {
        endAll(JobResult::Ok, {});
        return;
    }
    if (interrupted_) {
        endAll(JobResult::Interrupted, QStringLiteral("interrupted before its job began"));
        return;
    }
    BoardReport board = newReport(targets_.front());
    targets_.erase(targets_.begin());
    if (!begin(board)) {
        stopForJournal(board, QStringLiteral("not started: the journal could not be written"));
        return;
    }
    if (!settings_.serial) {
        runJob(boardTask(board), board, &PortRun::boardDone, shared_.progress);
        return;
    }
    // A number is spent only on a board that is written: the board is reached and its version
    // checked first. Its line of progress is shown once its flash begins.
    BoardTask check = boardTask(board);
    check.kind = JobKind::Version;
    runJob(check, board, &PortRun::reached, unshown_);
}

void PortRun::stopForJournal(BoardReport board, const QString &message) {
    board.result = JobResult::Interrupted;
    board.message = message;
    finish(board);
    endAll(JobResult::Interrupted, message);
}

BoardTask PortRun::boardTask(const BoardReport &board) const {
    BoardTask task = newTask(jobKind(settings_.command));
    task.records = withFile(settings_.command) ? &shared_.firmware.records : nullptr;
    task.newAddress = settings_.newAddress;
    task.address = board.address ? std::optional<std::uint8_t>(*board.address) : std::nullopt;
    if (settings_.recipe && !settings_.recipe->boardVersion.isEmpty()) {
        task.acceptsVersion = acceptsVersion(settings_.recipe->boardVersion);
        task.expectedVersion = settings_.recipe->boardVersion.toStdString();
    }
    return task;
}

void PortRun::reached() {
    if (job_->report().result != JobResult::Ok) {
        boardDone();
        return;
    }
    // The board's report so far: its row, and the version it answered.
    BoardReport board = job_->report();
    const SerialStamp &how = *settings_.serial;
    const std::uint64_t largest = largestSerialIn(how.bytes);
    if (!results_.number(board, how.start, largest)) {
        stopForJournal(board, QStringLiteral("not flashed: the journal could not be written"));
        return;
    }
    if (!board.serial) {
        refuse(board, QStringLiteral("the series \"%1\" is used up for %2 bytes: every number up "
                                     "to %3 has been handed out; nothing was written")
                          .arg(how.series, QString::number(how.bytes), QString::number(largest)));
        return;
    }
    if (const QString fault = stamp(*board.serial); !fault.isEmpty()) {
        refuse(board, fault);
        return;
    }
    BoardTask task = boardTask(board);
    task.records = &stamped_;
    reachSeconds_ = board.seconds;
    runJob(task, board, &PortRun::boardDone, shared_.progress);
}

void PortRun::refuse(BoardReport board, const QString &why) {
    board.result = JobResult::BadFile;
    board.message = why;
    finish(board);
    nextBoard();
}

void PortRun::runJob(const BoardTask &task, const BoardReport &board, void (PortRun::*done)(),
                     ProgressDisplay &progress) {
    if (job_) {
        job_.release()->deleteLater();
    }
    job_ = std::make_unique<BoardJob>(*port_, task, board, progress);
    connect(job_.get(), &BoardJob::finished, this, done);
    connect(job_.get(), &BoardJob::portWanted, &openTimer_, qOverload<>(&QTimer::start));
    if (shared_.events && task.kind != JobKind::Scan) {
        connect(job_.get(), &BoardJob::progressed, this,
                [this](Pass pass, std::size_t line, std::size_t lines) {
                    shared_.events->progress(job_->report(), pass, line, lines);
                });
    }
    job_->start();
}

void PortRun::boardDone() {
    openTimer_.stop();
    BoardReport report = job_->report();
    report.seconds += std::exchange(reachSeconds_, 0.0);
    if (settings_.command == Command::Check && report.result == JobResult::Ok) {
        report.message =
            QStringLiteral("at %1 baud, bootloader %2").arg(settings_.baud).arg(report.version);
    }
    finish(report);
    check(QStringLiteral("bootloader"), report.result == JobResult::Ok, report.message);
    if (report.result == JobResult::PortLost || !port_->isOpen()) {
        endAll(JobResult::PortLost, QStringLiteral("not reached: the port went away"));
        return;
    }
    nextBoard();
}

void PortRun::interrupt(int signal) {
    if (ended_) {
        return;
    }
    interrupted_ = true;
    signal_ = signal;
    openTimer_.stop();
    if (job_ && !job_->done()) {
        job_->interrupt();
        return;
    }
    endAll(JobResult::Interrupted, QStringLiteral("interrupted before its job began"));
}

void PortRun::endAll(JobResult result, const QString &message) {
    if (ended_) {
        return;
    }
    ended_ = true;
    openTimer_.stop();
    if (targets_.empty() && reports().empty()) {
        targets_.push_back(std::nullopt);
    }
    for (const auto &address : targets_) {
        BoardReport report = newReport(address);
        report.result = result;
        report.message = message;
        begin(report);
        finish(report);
    }
    targets_.clear();
    if (port_) {
        port_->close();
    }
    emit finished();
}

FlashRun::FlashRun(Settings settings, Firmware firmware, ProgressDisplay &progress,
                   RunJournal *journal, EventLines *events, QObject *parent)
    : QObject(parent), settings_(std::move(settings)),
      firmware_(std::move(firmware)), shared_{settings_, firmware_, progress, journal, events} {
    for (const QString &path : settings_.ports) {
        ports_.push_back(std::make_unique<PortRun>(path, shared_));
        connect(ports_.back().get(), &PortRun::finished, this, &FlashRun::portDone);
    }
}

void FlashRun::interrupt(int signal) {
    signal_ = signal;
    for (const auto &port : ports_) {
        port->interrupt(signal);
    }
}

void FlashRun::start() {
    running_ = static_cast<int>(ports_.size());
    for (const auto &port : ports_) {
        port->start();
    }
}

void FlashRun::portDone() {
    if (--running_ == 0) {
        emit finished();
    }
}

RunReport FlashRun::report() const {
    const std::string_view name = commandName(settings_.command);
    RunReport report;
    report.command = QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    report.signal = signal_;
    for (const auto &port : ports_) {
        report.boards.insert(report.boards.end(), port->reports().begin(), port->reports().end());
        report.checks.insert(report.checks.end(), port->checks().begin(), port->checks().end());
    }
    if (shared_.journal) {
        report.journal = shared_.journal->shown();
        if (!shared_.journal->problem().isEmpty()) {
            report.problems << shared_.journal->problem();
        }
    }
    return report;
}

} // namespace quenta::flash
