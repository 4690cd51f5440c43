#include "flash/jobs/EventLines.h"

#include <cstdio>

namespace quenta::flash {
namespace {

QString keyOf(const BoardReport &board) {
    return board.address ? board.port + u'#' + QString::number(*board.address) : board.port;
}

QJsonObject whereOf(const BoardReport &board) {
    return {{QStringLiteral("port"), board.port},
            {QStringLiteral("address"),
             board.address ? QJsonValue(*board.address) : QJsonValue(QJsonValue::Null)}};
}

} // namespace

EventLines::EventLines() {
    clock_.start();
}

void EventLines::start(const BoardReport &board) {
    lastProgress_.erase(keyOf(board));
    QJsonObject event = whereOf(board);
    event.insert(QStringLiteral("serial"), board.serial
                                               ? QJsonValue(static_cast<qint64>(*board.serial))
                                               : QJsonValue(QJsonValue::Null));
    write(event, "start");
}

void EventLines::progress(const BoardReport &board, Pass pass, std::size_t line,
                          std::size_t lines) {
    const qint64 now = clock_.elapsed();
    const auto [last, first] = lastProgress_.try_emplace(keyOf(board), now);
    if (!first && now - last->second < kMinimumGapMs) {
        return;
    }
    last->second = now;
    QJsonObject event = whereOf(board);
    event.insert(QStringLiteral("pass"),
                 pass == Pass::Download ? QStringLiteral("download") : QStringLiteral("verify"));
    event.insert(QStringLiteral("line"), static_cast<qint64>(line));
    event.insert(QStringLiteral("lines"), static_cast<qint64>(lines));
    write(event, "progress");
}

void EventLines::board(const BoardReport &board) {
    lastProgress_.erase(keyOf(board));
    write(boardJson(board), "board");
}

void EventLines::write(const QJsonObject &event, const char *name) {
    const QByteArray line = eventLine(name, event);
    if (std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout) !=
            static_cast<std::size_t>(line.size()) ||
        std::fflush(stdout) != 0) {
        failed_ = true;
    }
}

} // namespace quenta::flash
