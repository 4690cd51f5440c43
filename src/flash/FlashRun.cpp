#include "flash/FlashRun.h"

namespace quenta::flash {

FlashRun::FlashRun(Settings settings, std::vector<std::string> records, ProgressDisplay &progress,
                   QObject *parent)
    : QObject(parent), settings_(std::move(settings)), records_(std::move(records)) {
    const bool withFile =
        settings_.command == Command::Flash || settings_.command == Command::Verify;
    for (const QString &path : settings_.ports) {
        ports_.push_back(
            std::make_unique<PortRun>(path, settings_, withFile ? &records_ : nullptr, progress));
        connect(ports_.back().get(), &PortRun::finished, this, &FlashRun::portDone);
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
    for (const auto &port : ports_) {
        report.boards.insert(report.boards.end(), port->reports().begin(), port->reports().end());
        report.checks.insert(report.checks.end(), port->checks().begin(), port->checks().end());
    }
    return report;
}

} // namespace quenta::flash
