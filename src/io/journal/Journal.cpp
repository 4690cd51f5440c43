#include "io/journal/Journal.h"

#include "io/journal/JournalConnection.h"
#include "io/journal/JournalSchema.h"
#include "io/journal/JournalTime.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QVariant>

#include <limits>

namespace quenta {
namespace {

// The largest number a BIGINT column holds; the largest serial number is one below, so that the
// number after it can be kept too.
constexpr std::uint64_t kColumnLimit = std::numeric_limits<qint64>::max();
constexpr std::uint64_t kLargestSerial = kLargestSerialNumber;
static_assert(kLargestSerial == kColumnLimit - 1);

const QString kColumns = QStringLiteral(
    "id, started, seconds, station, operator, tool, command, port, device, usb_id, usb_serial, "
    "address, bootloader, firmware, firmware_sha256, records, series, serial, result, exit, lines, "
    "retries, resumed, message, recipe, recipe_sha256, verify_passes");

QVariant text(const QString &value) {
    return value.isEmpty() ? QVariant() : QVariant(value);
}

template <typename T> QVariant number(const std::optional<T> &value) {
    return value ? QVariant(static_cast<qlonglong>(*value)) : QVariant();
}

std::optional<qint64> optionalNumber(const QVariant &value) {
    return value.isNull() ? std::nullopt : std::optional<qint64>(value.toLongLong());
}

JobRow readRow(const QSqlQuery &query) {
    int column = 0;
    const auto next = [&] { return query.value(column++); };
    JobRow row;
    row.id = next().toLongLong();
    row.started = next().toString();
    const QVariant seconds = next();
    row.seconds = seconds.isNull() ? std::nullopt : std::optional<double>(seconds.toDouble());
    row.station = next().toString();
    row.operatorName = next().toString();
    row.tool = next().toString();
    row.command = next().toString();
    row.port = next().toString();
    row.device = next().toString();
    row.usbId = next().toString();
    row.usbSerial = next().toString();
    row.address = optionalNumber(next());
    row.bootloader = next().toString();
    row.firmware = next().toString();
    row.firmwareSha256 = next().toString();
    row.records = optionalNumber(next());
    row.series = next().toString();
    if (const auto serial = optionalNumber(next())) {
        row.serial = static_cast<std::uint64_t>(*serial);
    }
    row.result = next().toString();
    row.exit = optionalNumber(next());
    row.lines = optionalNumber(next());
    row.retries = optionalNumber(next());
    row.resumed = optionalNumber(next());
    row.message = next().toString();
    row.recipe = next().toString();
    row.recipeSha256 = next().toString();
    row.verifyPasses = optionalNumber(next());
    return row;
}

// The WHERE and LIMIT of a listing, with the values for its "?".
struct Selection {
    QString sql;
    QVariantList values;
};

Selection selectionOf(const JobFilter &filter) {
    QStringList conditions;
    Selection selection;
    const auto add = [&](const char *condition, const QVariant &value) {
        conditions.append(QString::fromLatin1(condition));
        selection.values.append(value);
    };
    if (filter.since.isValid()) {
        add("started >= ?", journalTime(filter.since));
    }
    if (!filter.result.isEmpty()) {
        add("result = ?", filter.result);
    }
    if (filter.serial) {
        add("serial = ?", static_cast<qlonglong>(std::min(*filter.serial, kColumnLimit)));
    }
    if (!filter.firmwareSha256.isEmpty()) {
        add("firmware_sha256 = ?", filter.firmwareSha256.toLower());
    }
    if (!filter.station.isEmpty()) {
        add("station = ?", filter.station);
    }
    if (!filter.recipe.isEmpty()) {
        add("recipe = ?", filter.recipe);
    }
    if (filter.after) {
        // Both halves keep to a range of the index on the start time.
        conditions.append(QStringLiteral("started <= ? AND (started < ? OR id < ?)"));
        selection.values << filter.after->started << filter.after->started << filter.after->id;
    }
    if (!conditions.isEmpty()) {
        selection.sql = QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    }
    selection.sql += QStringLiteral(" ORDER BY started DESC, id DESC");
    if (filter.limit > 0) {
        selection.sql += QStringLiteral(" LIMIT %1").arg(filter.limit);
    }
    return selection;
}

} // namespace

Journal::Journal(JournalPlace place, std::unique_ptr<JournalConnection> connection,
                 int versionFound)
    : place_(std::move(place)), connection_(std::move(connection)), versionFound_(versionFound) {}

Journal::~Journal() = default;

QString Journal::failed(const QString &what, const QString &why) const {
    return QStringLiteral("Cannot %1 in the journal %2: %3").arg(what, place_.shown(), why);
}

JournalResult<std::unique_ptr<Journal>> Journal::open(const JournalPlace &place, int reconnectMs) {
    using Result = JournalResult<std::unique_ptr<Journal>>;
    const auto cannot = [&place](const QString &why) {
        return Result::failure(
            QStringLiteral("Cannot open the journal %1: %2").arg(place.shown(), why));
    };
    auto connection = JournalConnection::open(place, JournalAccess::ReadWrite, reconnectMs);
    if (!connection) {
        return cannot(connection.error);
    }
    const auto found = migrateJournal(**connection);
    if (!found) {
        return cannot(found.error);
    }
    return {std::unique_ptr<Journal>(new Journal(place, std::move(*connection), *found)), {}};
}

JournalResult<std::unique_ptr<Journal>> Journal::openReadOnly(const JournalPlace &place) {
    using Result = JournalResult<std::unique_ptr<Journal>>;
    const auto cannot = [&place](const QString &why) {
        return Result::failure(
            QStringLiteral("Cannot open the journal %1: %2").arg(place.shown(), why));
    };
    if (place.kind == JournalPlace::Kind::Sqlite && !QFileInfo::exists(place.path)) {
        return cannot(journalNotMade());
    }
    auto connection = JournalConnection::open(place, JournalAccess::ReadOnly);
    if (!connection) {
        return cannot(connection.error);
    }
    const auto found = readableJournalVersion(**connection);
    if (!found) {
        return cannot(found.error);
    }
    return {std::unique_ptr<Journal>(new Journal(place, std::move(*connection), *found)), {}};
}

bool Journal::isFrozen() const {
    return connection_->isFrozen();
}

JournalResult<qint64> Journal::start(const JobStart &job) {
    const QString what = QStringLiteral("record the start of a job");
    if (job.serial && *job.serial > kLargestSerial) {
        return JournalResult<qint64>::failure(
            failed(what, QStringLiteral("the serial number %1 is above the largest kept, %2")
                             .arg(*job.serial)
                             .arg(kLargestSerial)));
    }
    const QDateTime started = job.started.isValid() ? job.started : QDateTime::currentDateTimeUtc();
    auto query = connection_->run(
        QStringLiteral("INSERT INTO jobs (started, station, operator, tool, command, port, device, "
                       "usb_id, usb_serial, address, firmware, firmware_sha256, records, series, "
                       "serial, recipe, recipe_sha256, result) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, "
                       "?, ?, ?, ?, ?, ?, ?, ?, 'running') RETURNING id"),
        {journalTime(started), text(job.station), text(job.operatorName), text(job.tool),
         text(job.command), text(job.port), text(job.device), text(job.usbId), text(job.usbSerial),
         number(job.address), text(job.firmware), text(job.firmwareSha256.toLower()),
         number(job.records), text(job.series), number(job.serial), text(job.recipe),
         text(job.recipeSha256.toLower())});
    if (!query) {
        return JournalResult<qint64>::failure(failed(what, query.error));
    }
    if (!query->next()) {
        return JournalResult<qint64>::failure(failed(what, QStringLiteral("no id came back")));
    }
    return {query->value(0).toLongLong(), {}};
}

QString Journal::complete(qint64 id, const JobEnd &end) {
    const QString what = QStringLiteral("record the end of job %1").arg(id);
    auto query = connection_->run(
        QStringLiteral("UPDATE jobs SET seconds = ?, bootloader = ?, result = ?, exit = ?, "
                       "lines = ?, retries = ?, resumed = ?, verify_passes = ?, message = ?, "
                       "device = COALESCE(?, device), usb_id = COALESCE(?, usb_id), "
                       "usb_serial = COALESCE(?, usb_serial) WHERE id = ?"),
        {end.seconds, text(end.bootloader), end.result, end.exit, static_cast<qlonglong>(end.lines),
         static_cast<qlonglong>(end.retries), static_cast<qlonglong>(end.resumed),
         static_cast<qlonglong>(end.verifyPasses), text(end.message), text(end.device),
         text(end.usbId), text(end.usbSerial), static_cast<qlonglong>(id)});
    if (!query) {
        return failed(what, query.error);
    }
    if (query->numRowsAffected() != 1) {
        return failed(what, QStringLiteral("it holds no job %1").arg(id));
    }
    return {};
}

JournalResult<std::optional<std::uint64_t>> Journal::nextSerial(const QString &series) {
    using Result = JournalResult<std::optional<std::uint64_t>>;
    auto query =
        connection_->run(QStringLiteral("SELECT next FROM series WHERE name = ?"), {series});
    if (!query) {
        return Result::failure(
            failed(QStringLiteral("read the series \"%1\"").arg(series), query.error));
    }
    if (!query->next()) {
        return {std::optional<std::uint64_t>(), {}};
    }
    return {static_cast<std::uint64_t>(query->value(0).toLongLong()), {}};
}

QString Journal::raiseExit(qint64 id, int exit) {
    auto query =
        connection_->run(QStringLiteral("UPDATE jobs SET exit = ? WHERE id = ? AND exit < ?"),
                         {exit, static_cast<qlonglong>(id), exit});
    return query ? QString()
                 : failed(QStringLiteral("record the exit status of job %1").arg(id), query.error);
}

JournalResult<std::optional<std::uint64_t>> Journal::takeSerial(const QString &series,
                                                                std::uint64_t first,
                                                                std::optional<qint64> job,
                                                                std::uint64_t largest) {
    using Result = JournalResult<std::optional<std::uint64_t>>;
    const QString what = QStringLiteral("take a serial number of the series \"%1\"").arg(series);
    if (first > kLargestSerial) {
        return Result::failure(
            failed(what, QStringLiteral("a series starts at %1 at most").arg(kLargestSerial)));
    }
    std::optional<std::uint64_t> taken;
    const QString why = connection_->inTransaction([&]() -> QString {
        taken.reset();
        if (job) {
            // A transaction that was run again after a lost connection finds its number there.
            auto held = connection_->run(QStringLiteral("SELECT serial FROM jobs WHERE id = ?"),
                                         {static_cast<qlonglong>(*job)});
            if (!held) {
                return held.error;
            }
            if (!held->next()) {
                return QStringLiteral("it holds no job %1").arg(*job);
            }
            if (!held->value(0).isNull()) {
                taken = static_cast<std::uint64_t>(held->value(0).toLongLong());
                return {};
            }
            held.value.reset();
        }
        auto made = connection_->run(QStringLiteral("INSERT INTO series (name, next) VALUES (?, ?) "
                                                    "ON CONFLICT (name) DO NOTHING"),
                                     {series, static_cast<qlonglong>(first)});
        if (!made) {
            return made.error;
        }
        made.value.reset();
        auto next = connection_->run(
            QStringLiteral("SELECT next FROM series WHERE name = ?") +
                (connection_->isPostgres() ? QStringLiteral(" FOR UPDATE") : QString()),
            {series});
        if (!next) {
            return next.error;
        }
        if (!next->next()) {
            return QStringLiteral("the series is missing after it was made");
        }
        const auto number =
            nextInSeries(static_cast<std::uint64_t>(next->value(0).toLongLong()), first, largest);
        next.value.reset();
        if (!number) {
            return {};
        }
        auto moved = connection_->run(QStringLiteral("UPDATE series SET next = ? WHERE name = ?"),
                                      {static_cast<qlonglong>(*number + 1), series});
        if (!moved) {
            return moved.error;
        }
        if (job) {
            auto numbered = connection_->run(
                QStringLiteral("UPDATE jobs SET series = ?, serial = ? WHERE id = ?"),
                {series, static_cast<qlonglong>(*number), static_cast<qlonglong>(*job)});
            if (!numbered) {
                return numbered.error;
            }
        }
        taken = number;
        return {};
    });
    if (!why.isEmpty()) {
        return Result::failure(failed(what, why));
    }
    return {taken, {}};
}

JournalResult<std::vector<JobRow>> Journal::list(const JobFilter &filter) {
    const Selection selection = selectionOf(filter);
    auto query = connection_->run(QStringLiteral("SELECT ") + kColumns +
                                      QStringLiteral(" FROM jobs") + selection.sql,
                                  selection.values);
    if (!query) {
        return JournalResult<std::vector<JobRow>>::failure(
            failed(QStringLiteral("list the jobs"), query.error));
    }
    std::vector<JobRow> rows;
    while (query->next()) {
        rows.push_back(readRow(*query));
    }
    return {std::move(rows), {}};
}

} // namespace quenta
