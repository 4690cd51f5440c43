#pragma once

#include "flash/frame/Report.h"
#include "flash/jobs/Progress.h"
#include "io/port/SerialPort.h"
#include "pure/engine/BoardEngine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <vector>

namespace quenta::flash {

// One board's job, or a scan of a bus, on an open port: the engine's conversation, with the port
// and the clock it needs. Bytes, timer ticks and the port's comings and goings go in; what the
// engine asks for goes out on the port and the timer. When the port goes away the job closes it
// and says so (portWanted); whoever opens the port tells it when it is back (portBack).
class BoardJob : public QObject {
    Q_OBJECT
public:
    // `head` is the board's report as far as it is known before the job: its port as given, its
    // address, serial number and journal row.
    BoardJob(SerialPort &port, BoardTask task, BoardReport head, ProgressDisplay &progress,
             QObject *parent = nullptr);

    void start();
    // The port the job waited for is open again.
    void portBack();
    // Stops at once; the report says "interrupted".
    void interrupt();
    bool done() const { return engine_.done(); }
    const BoardReport &report() const { return report_; }
    // The boards a scan found, by address.
    const std::vector<FoundBoard> &found() const { return engine_.found(); }

signals:
    void finished();
    // The port went away: the job waits for it to be opened again.
    void portWanted();
    // Each step of a pass that has begun: the lines answered in it so far, of all.
    void progressed(Pass pass, std::size_t line, std::size_t lines);

private:
    void apply(Step step);
    // Watches for the quiet that completes an answer without its line end.
    void watchQuiet();
    // `complete`: the job ended well, its last pass is whole.
    void showProgress(bool complete);
    QString boardName() const;
    // The moment of an event, on the job's clock.
    Micros now() const;

    SerialPort &port_;
    BoardTask task_;
    BoardEngine engine_;
    ProgressDisplay &progress_;
    int progressLine_ = 0;
    QTimer timer_;
    QTimer quiet_;
    std::uint64_t timerGeneration_ = 0; // counts the times the engine set its timer
    QElapsedTimer clock_;
    QElapsedTimer passClock_;
    Pass shownPass_ = Pass::Download;
    BoardReport report_;
};

} // namespace quenta::flash
