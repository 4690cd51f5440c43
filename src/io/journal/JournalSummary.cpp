// Journal::summary: the counts behind the line's view, each from a bounded range of the index on
// the start time (and on the station, the firmware or the recipe when one is chosen).
#include "io/journal/Journal.h"
#include "io/journal/JournalConnection.h"
#include "io/journal/JournalTime.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <map>

namespace quenta {
namespace {

constexpr qint64 kHourMs = 3600 * 1000;
constexpr int kTopFailures = 10;
constexpr int kStationDays = 7;
// A station's newest rows read to find its last job, its last finished job and its run of
// failures, with a few open rows ahead of them.
constexpr int kStationRows = 8;
constexpr int kFailureRun = 3;

// The WHERE of the span's jobs, with the values for its "?".
struct Where {
    QString sql;
    QVariantList values;
};

Where spanWhere(const QString &since, const QString &now, const SpanQuery &query) {
    Where where{QStringLiteral(" WHERE started >= ? AND started <= ?"), {since, now}};
    if (!query.station.isEmpty()) {
        where.sql += QStringLiteral(" AND station = ?");
        where.values << query.station;
    }
    if (!query.firmwareSha256.isEmpty()) {
        where.sql += QStringLiteral(" AND firmware_sha256 = ?");
        where.values << query.firmwareSha256.toLower();
    }
    if (!query.recipe.isEmpty()) {
        where.sql += QStringLiteral(" AND recipe = ?");
        where.values << query.recipe;
    }
    return where;
}

std::vector<HourCount> emptyHours(const QDateTime &since, const QDateTime &now) {
    std::vector<HourCount> hours;
    QDateTime hour = since.toUTC();
    hour.setTime(QTime(hour.time().hour(), 0));
    for (; hour <= now; hour = hour.addSecs(3600)) {
        hours.push_back({journalTime(hour).left(13), 0, 0});
    }
    return hours;
}

std::optional<double> median(std::vector<double> values) {
    if (values.empty()) {
        return std::nullopt;
    }
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                     values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1) {
        return upper;
    }
    const double lower =
        *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return (lower + upper) / 2.0;
}

// The first and the last result of a unit's jobs.
struct UnitResults {
    bool firstOk = false;
    bool lastOk = false;
};

QString endOf(const QString &started, const QVariant &seconds) {
    const QDateTime start = QDateTime::fromString(started, Qt::ISODateWithMs);
    return journalTime(start.addMSecs(static_cast<qint64>(seconds.toDouble() * 1000.0)));
}

} // namespace

JournalResult<LineSummary> Journal::summary(const SpanQuery &query) {
    using Result = JournalResult<LineSummary>;
    const QString what = QStringLiteral("count the jobs");
    const QDateTime now = query.now.isValid() ? query.now : QDateTime::currentDateTimeUtc();
    LineSummary summary;
    summary.since = journalTime(query.since);
    summary.now = journalTime(now);
    const QString hourAgo = journalTime(now.addMSecs(-kHourMs));
    const Where where = spanWhere(summary.since, summary.now, query);

    auto done = connection_->run(
        QStringLiteral("SELECT started, serial, result, seconds FROM jobs") + where.sql +
            QStringLiteral(" AND result <> 'running' ORDER BY started, id"),
        where.values);
    if (!done) {
        return Result::failure(failed(what, done.error));
    }
    summary.hours = emptyHours(query.since, now);
    std::map<QString, std::size_t> hourIndex;
    for (std::size_t i = 0; i < summary.hours.size(); ++i) {
        hourIndex[summary.hours[i].hour] = i;
    }
    std::map<qint64, UnitResults> units;
    std::vector<double> seconds;
    while (done->next()) {
        const QString started = done->value(0).toString();
        const bool ok = done->value(2).toString() == QLatin1String("ok");
        ++summary.jobs;
        summary.ok += ok ? 1 : 0;
        summary.lastHour += started >= hourAgo ? 1 : 0;
        if (const auto hour = hourIndex.find(started.left(13)); hour != hourIndex.end()) {
            (ok ? summary.hours[hour->second].ok : summary.hours[hour->second].failed) += 1;
        }
        if (!done->value(3).isNull()) {
            seconds.push_back(done->value(3).toDouble());
        }
        if (done->value(1).isNull()) {
            ++summary.units;
            summary.firstPassOk += ok ? 1 : 0;
            summary.finalOk += ok ? 1 : 0;
            continue;
        }
        const auto [unit, first] = units.try_emplace(done->value(1).toLongLong());
        if (first) {
            unit->second.firstOk = ok;
        }
        unit->second.lastOk = ok;
    }
    done.value.reset();
    for (const auto &[serial, results] : units) {
        ++summary.units;
        summary.firstPassOk += results.firstOk ? 1 : 0;
        summary.finalOk += results.lastOk ? 1 : 0;
    }
    summary.medianSeconds = median(std::move(seconds));

    // Both databases order a missing text the same way once it is an empty one.
    auto failures = connection_->run(
        QStringLiteral("SELECT result, message, recipe, count(*) AS jobs FROM jobs") + where.sql +
            QStringLiteral(" AND result NOT IN ('ok', 'running') GROUP BY result, message, recipe "
                           "ORDER BY jobs DESC, result, COALESCE(message, ''), "
                           "COALESCE(recipe, '') LIMIT %1")
                .arg(kTopFailures),
        where.values);
    if (!failures) {
        return Result::failure(failed(what, failures.error));
    }
    while (failures->next()) {
        summary.failures.push_back({failures->value(0).toString(), failures->value(1).toString(),
                                    failures->value(2).toString(),
                                    failures->value(3).toLongLong()});
    }
    failures.value.reset();

    SpanQuery week = query;
    week.since = std::min(query.since, now.addDays(-kStationDays));
    const Where recent = spanWhere(journalTime(week.since), summary.now, week);
    QVariantList values{summary.since, summary.since, hourAgo};
    values.append(recent.values);
    auto stations = connection_->run(
        QStringLiteral("SELECT station, "
                       "sum(CASE WHEN started >= ? AND result <> 'running' THEN 1 ELSE 0 END), "
                       "sum(CASE WHEN started >= ? AND result = 'ok' THEN 1 ELSE 0 END), "
                       "sum(CASE WHEN started >= ? AND result = 'running' THEN 1 ELSE 0 END) "
                       "FROM jobs") +
            recent.sql +
            QStringLiteral(" AND station IS NOT NULL GROUP BY station ORDER BY station"),
        values);
    if (!stations) {
        return Result::failure(failed(what, stations.error));
    }
    while (stations->next()) {
        StationCount station;
        station.station = stations->value(0).toString();
        station.jobs = stations->value(1).toLongLong();
        station.ok = stations->value(2).toLongLong();
        station.running = stations->value(3).toLongLong();
        summary.stations.push_back(station);
    }
    stations.value.reset();

    for (StationCount &station : summary.stations) {
        SpanQuery one = query;
        one.station = station.station;
        const Where its = spanWhere(journalTime(week.since), summary.now, one);
        auto last = connection_->run(
            QStringLiteral("SELECT started, result, firmware, firmware_sha256, seconds, recipe, "
                           "recipe_sha256 FROM jobs") +
                its.sql +
                QStringLiteral(" ORDER BY started DESC, id DESC LIMIT %1").arg(kStationRows),
            its.values);
        if (!last) {
            return Result::failure(failed(what, last.error));
        }
        bool runEnded = false;
        while (last->next()) {
            const QString started = last->value(0).toString();
            const QString result = last->value(1).toString();
            const bool open = result == QLatin1String("running");
            if (open && started < hourAgo) {
                continue; // left open by a flasher that was killed
            }
            if (station.lastStarted.isEmpty()) {
                station.lastStarted = started;
                station.lastResult = result;
                station.firmware = last->value(2).toString();
                station.firmwareSha256 = last->value(3).toString();
                station.recipe = last->value(5).toString();
                station.recipeSha256 = last->value(6).toString();
            }
            if (open) {
                continue;
            }
            if (station.lastEnded.isEmpty()) {
                station.lastEnded = endOf(started, last->value(4));
            }
            runEnded = runEnded || result == QLatin1String("ok");
            if (!runEnded && station.failuresInARow < kFailureRun) {
                ++station.failuresInARow;
            }
        }
    }
    return {std::move(summary), {}};
}

JournalResult<std::vector<CountedJob>> Journal::countedJobs(qint64 afterId, int limit) {
    using Result = JournalResult<std::vector<CountedJob>>;
    auto read = connection_->run(
        QStringLiteral("SELECT id, started, COALESCE(station, ''), COALESCE(recipe, ''), result, "
                       "COALESCE(seconds, 0) FROM jobs WHERE id > ? ORDER BY id LIMIT %1")
            .arg(limit),
        {afterId});
    if (!read) {
        return Result::failure(failed(QStringLiteral("count the jobs"), read.error));
    }
    std::vector<CountedJob> jobs;
    while (read->next()) {
        jobs.push_back({read->value(0).toLongLong(), read->value(1).toString(),
                        read->value(2).toString(), read->value(3).toString(),
                        read->value(4).toString(), read->value(5).toDouble()});
    }
    return {std::move(jobs), {}};
}

} // namespace quenta
