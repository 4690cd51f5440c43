#pragma once

#include "flash/Conversation.h"
#include "flash/FlashOptions.h"
#include "flash/ProgressDisplay.h"
#include "flash/Report.h"
#include "flash/ResumePlan.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quenta::flash {

// What one board's job is to do.
struct JobPlan {
    Command command = Command::Version;
    const std::vector<std::string> *records = nullptr; // flash and verify: the file's records
    std::uint8_t newAddress = 0;                       // set-address
    std::optional<std::uint8_t> address;               // the board's Modbus address
    Patience patience;
    int waitMs = 10000;
    int baud = 115200;
};

// One board's job on an open port: the probe, then the command. Every next command goes out the
// moment the answer to the last one is in. When the port goes away during a flash or a verify,
// the job waits for it to come back, probes again and goes on where the resume plan says; success
// is only ever reported after a verify pass that ran to its end without interruption.
class BoardJob : public QObject {
    Q_OBJECT
public:
    BoardJob(FlashPort &port, JobPlan plan, ProgressDisplay &progress, QObject *parent = nullptr);

    void start();
    const BoardReport &report() const { return report_; }

signals:
    void finished();

private:
    enum class Phase { Probing, Single, Lines, Reconnecting, Done };

    void begin();
    void onAnswered(const std::string &text);
    void onSilent();
    void onLost(const QString &why);
    void tryReconnect();
    void startPass(Pass pass, ResumePoint point);
    void sendLine();
    void onLineAnswer(const std::string &text);
    void onSingleAnswer(const std::string &text);
    void showProgress();
    QString boardName() const;
    void finish(Result result, const QString &message);
    // The number (from 1) of the line in flight, as in the file.
    std::size_t lineInFlight() const;
    bool resumes() const;

    FlashPort &port_;
    JobPlan plan_;
    ProgressDisplay &progress_;
    int progressLine_ = 0;
    Conversation conversation_;
    QTimer reconnectTimer_;
    QDeadlineTimer reconnectDeadline_;
    QElapsedTimer clock_;
    QElapsedTimer passClock_;
    BoardReport report_;
    QString lostWhy_;
    Phase phase_ = Phase::Probing;
    Pass pass_ = Pass::Download;
    bool passStarted_ = false;
    std::optional<std::size_t> addressFirst_; // the address record that goes before cursor_
    std::size_t cursor_ = 0;                  // the record the pass is at
};

} // namespace quenta::flash
