#pragma once

#include "flash/ProgressLine.h"

#include <QObject>
#include <QTimer>

#include <vector>

namespace quenta::flash {

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
