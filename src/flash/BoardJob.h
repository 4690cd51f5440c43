#pragma once

#include "flash/Progress.h"
#include "flash/Report.h"
#include "io/SerialPort.h"
#include "pure/BoardEngine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>

namespace quenta::flash {

// One board's job on an open port: the engine's conversation, with the port and the clock it
// needs. Bytes, timer ticks and the port's comings and goings go in; what the engine asks for
// goes out on the port and the timer. While the port is away it is opened again every
// kReopenPollMs until it is back or the engine gives up.
class BoardJob : public QObject {
    Q_OBJECT
public:
    // `head` is the board's report as far as it is known before the job: its port as given, its
    // address, serial number and journal row.
    BoardJob(SerialPort &port, BoardTask task, BoardReport head, ProgressDisplay &progress,
             QObject *parent = nullptr);

    void start();
    // Stops at once; the report says "interrupted".
    void interrupt();
    bool done() const { return engine_.done(); }
    const BoardReport &report() const { return report_; }

signals:
    void finished();
    // Each step of a pass that has begun: the lines answered in it so far, of all.
    void progressed(Pass pass, std::size_t line, std::size_t lines);

private:
    void apply(Step step);
    void reopen();
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
    std::uint64_t timerGeneration_ = 0; // counts the times the engine set its timer
    QTimer reopenTimer_;
    QElapsedTimer clock_;
    QElapsedTimer passClock_;
    Pass shownPass_ = Pass::Download;
    BoardReport report_;
};

} // namespace quenta::flash
