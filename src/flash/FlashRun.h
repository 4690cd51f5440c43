#pragma once

#include "flash/BoardJob.h"
#include "flash/BusScan.h"
#include "flash/FlashOptions.h"
#include "flash/Progress.h"
#include "flash/Report.h"
#include "io/SerialPort.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quenta::flash {

// Everything a run does on one port: open it (waiting for a USB port to appear), find the boards
// on a Modbus bus when asked to, then one board's job after another. The check command also
// reports what it found out about the port.
class PortRun : public QObject {
    Q_OBJECT
public:
    PortRun(const QString &path, const Settings &settings, const std::vector<std::string> *records,
            ProgressDisplay &progress, QObject *parent = nullptr);

    void start();
    // Stops at once: the job under way and every board still to do end "interrupted".
    void interrupt();
    const std::vector<BoardReport> &reports() const { return reports_; }
    const std::vector<CheckEntry> &checks() const { return checks_; }

signals:
    void finished();

private:
    void tryOpen();
    void opened();
    void scanned();
    void nextBoard();
    void boardDone();
    // Every board the run is for ends alike: the port could not be opened, or it was lost.
    void endAll(JobResult result, const QString &message);
    void check(const QString &name, bool ok, const QString &message);
    void checkLatency();
    void checkOpenFailure(const PortProblem &problem);

    const Settings &settings_;
    const std::vector<std::string> *records_;
    ProgressDisplay &progress_;
    SerialPort port_;
    QTimer openTimer_;
    QDeadlineTimer openDeadline_;
    std::unique_ptr<BusScan> scan_;
    std::unique_ptr<BoardJob> job_;
    std::vector<std::optional<std::uint8_t>> targets_; // the boards still to do
    std::vector<BoardReport> reports_;
    std::vector<CheckEntry> checks_;
    bool reopening_ = false; // the port went away during the scan: waiting for it
    bool interrupted_ = false;
    bool ended_ = false;
};

// A whole run over its ports: one PortRun per port, all at once in one event loop, and the report
// once the last of them has ended.
class FlashRun : public QObject {
    Q_OBJECT
public:
    FlashRun(Settings settings, std::vector<std::string> records, ProgressDisplay &progress,
             QObject *parent = nullptr);

    void start();
    // A signal stopped the run: every port stops at once.
    void interrupt(int signal);
    RunReport report() const;

signals:
    void finished();

private:
    void portDone();

    Settings settings_;
    std::vector<std::string> records_;
    std::vector<std::unique_ptr<PortRun>> ports_;
    int running_ = 0;
    int signal_ = 0;
};

} // namespace quenta::flash
