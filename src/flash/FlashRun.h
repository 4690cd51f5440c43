#pragma once

#include "flash/BoardJob.h"
#include "flash/BoardRecords.h"
#include "flash/EventLines.h"
#include "flash/Firmware.h"
#include "flash/PortIdentity.h"
#include "flash/Progress.h"
#include "flash/Report.h"
#include "flash/RunJournal.h"
#include "flash/Settings.h"
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

// What the ports of a run share.
struct RunShared {
    const Settings &settings;
    const Firmware &firmware; // flash and verify: the file, or why it cannot be used
    ProgressDisplay &progress;
    RunJournal *journal; // none: nothing is recorded
    EventLines *events;  // none: no events
};

// Everything a run does on one port: open it (waiting for a USB port to appear), find the boards
// on a Modbus bus when asked to, then one board's job after another. It is the one owner of the
// port's opening: at the start, and whenever a job waits for the port to come back. Each board is
// recorded from the start of its job (or from the moment its outcome is decided without one) to
// its end. The check command also reports what it found out about the port.
class PortRun : public QObject {
    Q_OBJECT
public:
    PortRun(const QString &path, const RunShared &shared, QObject *parent = nullptr);

    void start();
    // Stops at once: the job under way and every board still to do end "interrupted".
    void interrupt(int signal);
    const std::vector<BoardReport> &reports() const { return records_.reports(); }
    const std::vector<CheckEntry> &checks() const { return checks_; }

signals:
    void finished();

private:
    void tryOpen();
    PortProblem openPort();
    void opened();
    bool jobWaiting() const;
    void scan();
    void scanned();
    void nextBoard();
    void runJob(const BoardTask &task, const BoardReport &board);
    void boardDone();
    // Every board the run is for ends alike: the file cannot be used, the port could not be
    // opened, or it was lost.
    void endAll(JobResult result, const QString &message);
    void check(const QString &name, bool ok, const QString &message);
    void checkLatency();
    void checkOpenFailure(const PortProblem &problem);

    BoardReport newReport(std::optional<std::uint8_t> address) const;
    BoardTask newTask(JobKind kind) const;
    // Records the start of a board, taking its serial number when its job is a stamped flash:
    // false when the journal could not be written.
    bool begin(BoardReport &board, bool job);
    void finish(const BoardReport &board);
    // Puts the board's serial number into a copy of the file's records: the fault, if any.
    QString stamp(std::uint64_t serial);
    PortIdentity identity() const;

    QString path_;
    const RunShared &shared_;
    const Settings &settings_;
    std::unique_ptr<SerialPort> port_; // made once usb:SERIAL has been found
    QTimer openTimer_;
    QDeadlineTimer openDeadline_;
    std::unique_ptr<BoardJob> job_;    // the board's job under way, or the scan
    std::vector<std::string> stamped_; // the records of the board under way, its number in them
    PortIdentity started_;             // the device as the board's row was started
    std::vector<std::optional<std::uint8_t>> targets_; // the boards still to do
    BoardRecords records_;
    std::vector<CheckEntry> checks_;
    bool interrupted_ = false;
    int signal_ = 0;
    bool ended_ = false;
};

// A whole run over its ports: one PortRun per port, all at once in one event loop, and the report
// once the last of them has ended.
class FlashRun : public QObject {
    Q_OBJECT
public:
    // `journal` and `events` may be none.
    FlashRun(Settings settings, Firmware firmware, ProgressDisplay &progress, RunJournal *journal,
             EventLines *events, QObject *parent = nullptr);

    void start();
    // A signal stopped the run: every port stops at once.
    void interrupt(int signal);
    RunReport report() const;

signals:
    void finished();

private:
    void portDone();

    Settings settings_;
    Firmware firmware_;
    RunShared shared_;
    std::vector<std::unique_ptr<PortRun>> ports_;
    int running_ = 0;
    int signal_ = 0;
};

} // namespace quenta::flash
