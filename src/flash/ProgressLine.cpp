#include "flash/ProgressLine.h"

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

} // namespace quenta::flash
