#pragma once

#include "pure/engine/BoardEngine.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstddef>
#include <vector>

namespace quenta::flash {

// Where one board's job stands.
struct ProgressState {
    QString board; // the port, with the address on a Modbus bus
    Pass pass = Pass::Download;
    bool verifyAlone = false; // no download pass: the verify is the whole job
    std::size_t done = 0;     // lines answered in this pass
    std::size_t total = 0;    // lines in the file
    double seconds = 0.0;     // since this pass began
};

// "PORT  download  120/1203   9%  215 lines/s  0:11 left": the pass, the lines done of the total,
// the percent of the pass, the pace of this pass and the time the rest of the job takes at it.
QString progressLine(const ProgressState &state);

// One line per board on a terminal, redrawn in place a few times a second; nothing at all when
// the output is no terminal or the display is turned off.
class ProgressDisplay : public QObject {
    Q_OBJECT
public:
    // `fd` is where the lines go (standard error); `enabled` false keeps it silent.
    ProgressDisplay(int fd, bool enabled, QObject *parent = nullptr);

    // A line for one more board; its number.
    int addBoard(const QString &board);
    void update(int line, const ProgressState &state);
    // Draws the last state and leaves the lines as they stand.
    void finish();

private:
    void redraw();

    int fd_;
    bool enabled_;
    QTimer timer_;
    std::vector<QString> lines_;
    int drawn_ = 0; // lines drawn so far, above the cursor
};

} // namespace quenta::flash
