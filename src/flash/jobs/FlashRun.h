#pragma once

#include "flash/frame/Firmware.h"
#include "flash/frame/Report.h"
#include "flash/frame/Settings.h"
#include "flash/jobs/BoardJob.h"
#include "flash/jobs/BoardResults.h"
#include "flash/jobs/EventLines.h"
#include "flash/jobs/Progress.h"
#include "flash/journal/RunJournal.h"
#include "io/port/PortIdentity.h"
#include "io/port/SerialPort.h"

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
// its end. A flash that writes serial numbers first reaches the board and checks its version, and
// only then takes the board's number and puts it into the file: a board that is not written takes
// none. The check command also reports what it found out about the port.
class PortRun : public QObject {
    Q_OBJECT
public:
    PortRun(const QString &path, const RunShared &shared, QObject *parent = nullptr);

    void start();
    // Stops at once: the job under way and every board still to do end "interrupted".
    void interrupt(int signal);
    const std::vector<BoardReport> &reports() const { return results_.reports(); }
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
    // The task of the board's job for the command.
    BoardTask boardTask(const BoardReport &board) const;
    // Runs a job on the port; `done` takes its end. `progress` shows it.
    void runJob(const BoardTask &task, const BoardReport &board, void (PortRun::*done)(),
                ProgressDisplay &progress);
    // The board answered the version check before its number is taken: numbered and flashed, or
    // done.
    void reached();
    void boardDone();
    // Every board the run is for ends alike: the file cannot be used, the port could not be
    // opened, or it was lost.
    void endAll(JobResult result, const QString &message);
    void check(const QString &name, bool ok, const QString &message);
    void checkLatency();
    void checkOpenFailure(const PortProblem &problem);

    BoardReport newReport(std::optional<std::uint8_t> address) const;
    BoardTask newTask(JobKind kind) const;
    // Records the start of a board: false when the journal could not be written.
    bool begin(BoardReport &board);
    void finish(const BoardReport &board);
    // The journal failed the board before its job: it and every board after it end interrupted.
    void stopForJournal(BoardReport board, const QString &message);
    // A board refused before its job ran (its number or the file it was to be written with).
    void refuse(BoardReport board, const QString &why);
    // Puts the board's serial number, which its bytes hold, into a copy of the file's records: the
    // fault, if any.
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
    ProgressDisplay unshown_;          // for the version check before a board's number is taken
    double reachSeconds_ = 0.0;        // what that check took, added to the flash job
    PortIdentity started_;             // the device as the board's row was started
    std::vector<std::optional<std::uint8_t>> targets_; // the boards still to do
    BoardResults results_;
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
