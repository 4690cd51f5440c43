#include "flash/jobs/Progress.h"

#include "io/system/Terminal.h"

#include <algorithm>
#include <cmath>

namespace quenta::flash {

namespace {

QString minutesAndSeconds(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(seconds));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QString progressLine(const ProgressState &state) {
    const std::size_t percent = state.total == 0 ? 0 : state.done * 100 / state.total;
    QString line = QStringLiteral("%1  %2  %3/%4  %5%")
                       .arg(state.board, state.pass == Pass::Download ? QStringLiteral("download")
                                                                      : QStringLiteral("verify  "))
                       .arg(state.done, QString::number(state.total).size())
                       .arg(state.total)
                       .arg(percent, 3);
    if (state.done == 0 || state.seconds <= 0.0) {
        return line;
    }
    const double pace = static_cast<double>(state.done) / state.seconds;
    std::size_t left = state.total - std::min(state.done, state.total);
    if (state.pass == Pass::Download && !state.verifyAlone) {
        left += state.total;
    }
    return line + QStringLiteral("  %1 lines/s  %2 left")
                      .arg(static_cast<long long>(std::lround(pace)))
                      .arg(minutesAndSeconds(static_cast<double>(left) / pace));
}

namespace {

constexpr int kRedrawMs = 200;

} // namespace

ProgressDisplay::ProgressDisplay(int fd, bool enabled, QObject *parent)
    : QObject(parent), fd_(fd), enabled_(enabled && isTerminal(fd)) {
    timer_.setInterval(kRedrawMs);
    connect(&timer_, &QTimer::timeout, this, &ProgressDisplay::redraw);
}

int ProgressDisplay::addBoard(const QString &board) {
    lines_.push_back(board);
    if (enabled_ && !timer_.isActive()) {
        timer_.start();
    }
    return static_cast<int>(lines_.size()) - 1;
}

void ProgressDisplay::update(int line, const ProgressState &state) {
    if (enabled_) {
        lines_[static_cast<std::size_t>(line)] = progressLine(state);
    }
}

void ProgressDisplay::finish() {
    if (enabled_) {
        redraw();
        timer_.stop();
    }
}

void ProgressDisplay::redraw() {
    QByteArray out;
    if (drawn_ > 0) {
        out += "\033[" + QByteArray::number(drawn_) + "F";
    }
    for (const QString &line : lines_) {
        out += "\r\033[K" + line.toLocal8Bit() + '\n';
    }
    drawn_ = static_cast<int>(lines_.size());
    writeAll(fd_, out);
}

} // namespace quenta::flash
