#pragma once

// The real window with its real serial control and timers, talking to a simulated board over a
// pseudo-terminal. Only the file chooser, the message boxes and the sleep are stand-ins, so that
// no modal dialog ever opens. A job is judged by what the board's memory holds.

#include "BoardImage.h"
#include "StandIns.h"
#include "simboard/PtyBoard.h"

#include <QSignalSpy>
#include <QtTest>

namespace quenta::testing {

struct BoardBench {
    explicit BoardBench(simboard::Options options = {}, std::string link = {})
        : board(std::move(options), std::move(link)), w(true) {
        board.start();
        w->txt[0]->setText(QString::fromStdString(board.path()));
    }
    ~BoardBench() { w.window.reset(); }

    frmSerial *operator->() const { return w.window.get(); }

    // Opens the port and waits until the bootloader has answered.
    void connect() {
        w->BTNOpenCom->click();
        QTRY_COMPARE_WITH_TIMEOUT(w->Label2->text(), QStringLiteral("READY"), kConnectMs);
    }

    // Picks the file, starts the download (or the verify alone) and waits for the job's end.
    void runJob(const QString &file, bool verifyAlone = false) {
        w.chooser->answers.push_back(file);
        (verifyAlone ? w->Command2 : w->Command3)->click();
        QTRY_VERIFY_WITH_TIMEOUT(w->vbalProgressBar1->text() == QStringLiteral("END") ||
                                     w->vbalProgressBar1->text() == QStringLiteral("ERROR"),
                                 kJobMs);
    }

    // Lets the answer timer tick this many times: long enough for anything on its way to show.
    void waitPolls(int ticks) {
        QSignalSpy polls(w->TMRComm, &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(polls.count() >= ticks, kConnectMs);
    }

    static constexpr int kConnectMs = 10000;
    static constexpr int kJobMs = 60000;

    simboard::PtyBoard board;
    FakeWindow w;
};

} // namespace quenta::testing
