#pragma once

#include "flash/frame/Report.h"
#include "pure/engine/BoardEngine.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

#include <cstddef>
#include <map>

namespace quenta::flash {

// The run's events as JSON lines on standard output, for a program that follows it: one object a
// line, each written and flushed at once. The last event, "end", is the report's (printReport).
class EventLines {
public:
    EventLines();

    // {"event":"start","port","address","serial"}: a board's job begins, or its outcome was
    // decided without one. A flash that writes serial numbers numbers the board once it has
    // reached it: "serial" is null here, and given in the board's event.
    void start(const BoardReport &board);
    // {"event":"progress","port","address","pass":"download"|"verify","line","lines"}, at most
    // one each kMinimumGapMs for a board.
    void progress(const BoardReport &board, Pass pass, std::size_t line, std::size_t lines);
    // {"event":"board", ...the board's report}.
    void board(const BoardReport &board);

    // Whether a line could not be written.
    bool failed() const { return failed_; }

    static constexpr qint64 kMinimumGapMs = 100;

private:
    void write(const QJsonObject &event, const char *name);

    QElapsedTimer clock_;
    std::map<QString, qint64> lastProgress_; // a board's port and address -> when last shown
    bool failed_ = false;
};

} // namespace quenta::flash
