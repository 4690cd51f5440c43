#include "flash/ProgressDisplay.h"

#include <unistd.h>

namespace quenta::flash {
namespace {

constexpr int kRedrawMs = 200;

} // namespace

ProgressDisplay::ProgressDisplay(int fd, bool enabled, QObject *parent)
    : QObject(parent), fd_(fd), enabled_(enabled && ::isatty(fd) == 1) {
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
    for (qsizetype written = 0; written < out.size();) {
        const ssize_t n =
            ::write(fd_, out.constData() + written, static_cast<std::size_t>(out.size() - written));
        if (n <= 0) {
            return;
        }
        written += n;
    }
}

} // namespace quenta::flash
