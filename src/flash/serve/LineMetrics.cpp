#include "flash/serve/LineMetrics.h"

#include <cstdio>
#include <map>
#include <tuple>

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

// A series' labels, in the order written.
using Labels = std::vector<std::pair<const char *, QByteArray>>;

QByteArray labelled(const char *name, const Labels &labels) {
    QByteArray line = name;
    line += '{';
    for (std::size_t i = 0; i < labels.size(); ++i) {
        line += (i > 0 ? "," : "") + QByteArray(labels[i].first) + "=\"" + labels[i].second + '"';
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

// The figures of the tallies, each family's series in order of their labels.
QByteArray figures(const std::vector<BoardTally> &tallies) {
    using Key = std::tuple<QByteArray, QByteArray, QByteArray>;
    std::map<Key, qint64> boards;
    std::map<std::pair<QByteArray, QByteArray>, double> seconds;
    std::map<std::pair<QByteArray, QByteArray>, qint64> running;
    std::map<QByteArray, QString> lastStarted;
    for (const BoardTally &tally : tallies) {
        const QByteArray station = labelValue(tally.station);
        const QByteArray recipe = labelValue(tally.recipe);
        if (tally.result == QLatin1String("running")) {
            running[{station, recipe}] += tally.lastHour;
        } else {
            boards[{station, recipe, labelValue(tally.result)}] += tally.boards;
            seconds[{station, recipe}] += tally.seconds;
        }
        QString &last = lastStarted[station];
        last = std::max(last, tally.lastStarted);
    }
    QByteArray text = family("quenta_boards_total", "counter",
                             "Boards whose job has ended, by station, recipe and result.");
    for (const auto &[key, count] : boards) {
        const auto &[station, recipe, result] = key;
        text += labelled("quenta_boards_total",
                         {{"station", station}, {"recipe", recipe}, {"result", result}}) +
                QByteArray::number(count) + '\n';
    }
    text += family("quenta_board_seconds_total", "counter",
                   "Seconds taken by the jobs that ended, by station and recipe.");
    for (const auto &[key, sum] : seconds) {
        text += labelled("quenta_board_seconds_total",
                         {{"station", key.first}, {"recipe", key.second}}) +
                number(sum) + '\n';
    }
    text += family("quenta_boards_running", "gauge",
                   "Jobs open now, started within the last hour, by station and recipe.");
    for (const auto &[key, count] : running) {
        if (count > 0) {
            text += labelled("quenta_boards_running",
                             {{"station", key.first}, {"recipe", key.second}}) +
                    QByteArray::number(count) + '\n';
        }
    }
    text += family("quenta_last_board_started_seconds", "gauge",
                   "When each station's last job started, in seconds since 1970-01-01 UTC.");
    for (const auto &[station, started] : lastStarted) {
        const QDateTime moment = QDateTime::fromString(started, Qt::ISODateWithMs);
        text += labelled("quenta_last_board_started_seconds", {{"station", station}}) +
                number(static_cast<double>(moment.toMSecsSinceEpoch()) / 1000.0) + '\n';
    }
    return text;
}

Reply metricsReply(bool up, const QByteArray &figures) {
    return {200,
            "text/plain; version=0.0.4; charset=utf-8",
            family("quenta_journal_up", "gauge",
                   "Whether the journal can be read: 1, or 0 while it cannot.") +
                "quenta_journal_up " + (up ? "1" : "0") + '\n' + figures,
            {},
            {}};
}

} // namespace

Reply answerMetrics(JournalKeeper &keeper, const QUrlQuery &query, const QDateTime &now) {
    if (!query.isEmpty()) {
        return errorReply(400, QStringLiteral("metrics takes no parameters"));
    }
    Journal *journal = keeper.journal();
    if (journal == nullptr) {
        return metricsReply(false, {});
    }
    const auto tallies = journal->tally(now);
    if (!tallies) {
        keeper.drop(tallies.error);
        return metricsReply(false, {});
    }
    return metricsReply(true, figures(*tallies));
}

} // namespace quenta::flash
