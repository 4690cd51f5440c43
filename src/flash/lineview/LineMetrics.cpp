#include "flash/lineview/LineMetrics.h"

#include <cstdio>

namespace quenta::flash {
namespace {

// A label's value as the text format writes it: backslash, double quote and line feed escaped.
QByteArray labelValue(const QString &value) {
    QByteArray escaped;
    for (const char c : value.toUtf8()) {
        escaped += c == '\\'   ? QByteArray("\\\\")
                   : c == '"'  ? QByteArray("\\\"")
                   : c == '\n' ? QByteArray("\\n")
                               : QByteArray(1, c);
    }
    return escaped;
}

// A series' name and labels, in the order given, and the blank before its value.
QByteArray series(const char *name, const std::vector<std::pair<const char *, QString>> &labels) {
    QByteArray line = name;
    line += '{';
    for (std::size_t i = 0; i < labels.size(); ++i) {
        line += (i > 0 ? "," : "") + QByteArray(labels[i].first) + "=\"" +
                labelValue(labels[i].second) + '"';
    }
    return line + "} ";
}

QByteArray number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

QByteArray family(const char *name, const char *type, const char *help) {
    return "# HELP " + QByteArray(name) + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

QByteArray journalUp(bool up) {
    return family("quenta_journal_up", "gauge",
                  "Whether the journal can be read: 1, or 0 while it cannot.") +
           "quenta_journal_up " + (up ? "1" : "0") + '\n';
}

QByteArray figures(const BoardCounts &counts) {
    QByteArray text = family("quenta_boards_total", "counter",
                             "Boards whose job has ended, by station, recipe and result.");
    for (const auto &[key, boards] : counts.boards) {
        const auto &[station, recipe, result] = key;
        text += series("quenta_boards_total",
                       {{"station", station}, {"recipe", recipe}, {"result", result}}) +
                QByteArray::number(boards) + '\n';
    }
    text += family("quenta_board_seconds_total", "counter",
                   "Seconds taken by the jobs that ended, by station and recipe.");
    for (const auto &[labels, seconds] : counts.seconds) {
        text += series("quenta_board_seconds_total",
                       {{"station", labels.first}, {"recipe", labels.second}}) +
                number(seconds) + '\n';
    }
    text += family("quenta_boards_running", "gauge",
                   "Jobs open now, started within the last hour, by station and recipe.");
    for (const auto &[labels, running] : counts.running) {
        if (running > 0) {
            text += series("quenta_boards_running",
                           {{"station", labels.first}, {"recipe", labels.second}}) +
                    QByteArray::number(running) + '\n';
        }
    }
    text += family("quenta_last_board_started_seconds", "gauge",
                   "When each station's last job started, in seconds since 1970-01-01 UTC.");
    for (const auto &[station, started] : counts.lastStarted) {
        const QDateTime moment = QDateTime::fromString(started, Qt::ISODateWithMs);
        text += series("quenta_last_board_started_seconds", {{"station", station}}) +
                number(static_cast<double>(moment.toMSecsSinceEpoch()) / 1000.0) + '\n';
    }
    return text;
}

// Reads the scan's next step: the rest of the body once it is done, else what reads on.
BodyPiece nextStep(const std::shared_ptr<BoardCounter> &counter,
                   const std::shared_ptr<BoardCounter::Scan> &scan, JournalKeeper &keeper) {
    Journal *journal = keeper.journal();
    if (journal == nullptr) {
        return {journalUp(false), {}};
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (const QString failed = counter->step(*journal, *scan, now); !failed.isEmpty()) {
        keeper.drop(failed);
        return {journalUp(false), {}};
    }
    if (!scan->done) {
        return {{},
                [counter, scan](JournalKeeper &keeper) { return nextStep(counter, scan, keeper); }};
    }
    return {journalUp(true) + figures(counter->counts(*scan, now)), {}};
}

} // namespace

Reply answerMetrics(const std::shared_ptr<BoardCounter> &counter, JournalKeeper &keeper,
                    const QUrlQuery &query) {
    if (!query.isEmpty()) {
        return errorReply(400, QStringLiteral("metrics takes no parameters"));
    }
    Reply reply{200, "text/plain; version=0.0.4; charset=utf-8", {}, {}, {}};
    BodyPiece first = nextStep(counter, std::make_shared<BoardCounter::Scan>(), keeper);
    reply.body = std::move(first.bytes);
    reply.more = std::move(first.next);
    return reply;
}

} // namespace quenta::flash
