#pragma once

#include "io/SerialPort.h"
#include "pure/AnswerReader.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <string>
#include <vector>

namespace quenta::flash {

// A board that answered the scan.
struct FoundBoard {
    std::uint8_t address = 0;
    std::string version; // its answer to the info command
};

// How long the scan waits for an answer from one address: 50 ms at 115200 baud, and at a slower
// speed as much longer as a probe and its answer take longer on that wire.
int scanWindowMs(int baud);

// Walks the Modbus addresses 1..127 with the info command, one address per window, and notes every
// board that answers, from whichever address its answer comes, late or not. A sweep that finds
// nobody is repeated until the deadline has passed.
class BusScan : public QObject {
    Q_OBJECT
public:
    // With `firstOnly` the scan ends at the first board that answers.
    BusScan(SerialPort &port, int baud, bool firstOnly, QDeadlineTimer deadline,
            QObject *parent = nullptr);

    void start();
    const std::vector<FoundBoard> &found() const { return found_; }

signals:
    void finished();

private:
    void probeNext();
    void onBytes(const QByteArray &bytes);
    void end();

    SerialPort &port_;
    bool firstOnly_;
    QDeadlineTimer deadline_;
    AnswerReader reader_{true};
    QTimer window_;
    int next_ = 1;
    bool done_ = false;
    std::vector<FoundBoard> found_;
};

} // namespace quenta::flash
