#include "io/journal/JournalSchema.h"

#include <QStringList>

#include <vector>

namespace quenta {
namespace {

// Keeps two PostgreSQL programs from making the tables at once.
constexpr qint64 kSchemaLockKey = 0x7175656E7461; // "quenta"

// The statements of each step, oldest first; "{id}" stands for the type of a row id. Version 1 made
// the tables; version 2 added the recipe a job followed; version 3 the line's indexes; version 4
// the verify passes.
const std::vector<QStringList> &steps() {
    static const std::vector<QStringList> list = {
        {
            QStringLiteral("CREATE TABLE jobs ("
                           "id {id}, started TEXT NOT NULL, seconds DOUBLE PRECISION, "
                           "station TEXT, operator TEXT, tool TEXT, command TEXT, port TEXT, "
                           "device TEXT, usb_id TEXT, usb_serial TEXT, address BIGINT, "
                           "bootloader TEXT, firmware TEXT, firmware_sha256 TEXT, records BIGINT, "
                           "series TEXT, serial BIGINT, result TEXT NOT NULL, exit BIGINT, "
                           "lines BIGINT, retries BIGINT, resumed BIGINT, message TEXT)"),
            QStringLiteral("CREATE INDEX jobs_started ON jobs (started)"),
            QStringLiteral("CREATE INDEX jobs_serial ON jobs (serial)"),
            QStringLiteral("CREATE TABLE series (name TEXT PRIMARY KEY, next BIGINT NOT NULL)"),
        },
        {
            QStringLiteral("ALTER TABLE jobs ADD COLUMN recipe TEXT"),
            QStringLiteral("ALTER TABLE jobs ADD COLUMN recipe_sha256 TEXT"),
        },
        // The line's view: one station's, one firmware's or one recipe's jobs of a span.
        {
            QStringLiteral("CREATE INDEX jobs_station_started ON jobs (station, started)"),
            QStringLiteral("CREATE INDEX jobs_firmware_started ON jobs (firmware_sha256, started)"),
            QStringLiteral("CREATE INDEX jobs_recipe_started ON jobs (recipe, started)"),
        },
        // The verify passes a job ran.
        {
            QStringLiteral("ALTER TABLE jobs ADD COLUMN verify_passes BIGINT"),
        },
    };
    return list;
}

// The version a journal holds; 0 when its table schema is empty.
JournalResult<int> storedVersion(JournalConnection &connection) {
    auto query = connection.run(QStringLiteral("SELECT version FROM schema"));
    if (!query) {
        return JournalResult<int>::failure(query.error);
    }
    return {query->next() ? query->value(0).toInt() : 0, {}};
}

QString applySteps(JournalConnection &connection, int from) {
    const QString idType = connection.isPostgres()
                               ? QStringLiteral("BIGSERIAL PRIMARY KEY")
                               : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    for (std::size_t step = static_cast<std::size_t>(from); step < steps().size(); ++step) {
        for (const QString &statement : steps()[step]) {
            if (auto done =
                    connection.run(QString(statement).replace(QStringLiteral("{id}"), idType));
                !done) {
                return done.error;
            }
        }
    }
    return {};
}

QString newerThanProgram(int found) {
    return QStringLiteral("its schema version is %1, newer than this program knows (%2): use a "
                          "newer version of the program")
        .arg(found)
        .arg(latestJournalVersion());
}

// Whether the table schema is there, asked without touching it.
JournalResult<bool> hasSchemaTable(JournalConnection &connection) {
    auto query = connection.run(
        connection.isPostgres()
            ? QStringLiteral("SELECT count(*) FROM pg_tables WHERE tablename = 'schema' AND "
                             "schemaname = current_schema()")
            : QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                             "name = 'schema'"));
    if (!query) {
        return JournalResult<bool>::failure(query.error);
    }
    return {query->next() && query->value(0).toInt() > 0, {}};
}

} // namespace

int latestJournalVersion() {
    return static_cast<int>(steps().size());
}

QString journalNotMade() {
    return QStringLiteral("there is no journal here yet: the first job that quenta-flash records "
                          "(flash, verify, install or set-address) makes it");
}

JournalResult<int> readableJournalVersion(JournalConnection &connection) {
    using Result = JournalResult<int>;
    const auto made = hasSchemaTable(connection);
    if (!made) {
        return Result::failure(made.error);
    }
    const auto found = *made ? storedVersion(connection) : Result{0, {}};
    if (!found || *found == latestJournalVersion()) {
        return found;
    }
    if (*found == 0) {
        return Result::failure(journalNotMade());
    }
    if (*found > latestJournalVersion()) {
        return Result::failure(newerThanProgram(*found));
    }
    return Result::failure(
        QStringLiteral("its schema version is %1, older than this program's (%2): the next job "
                       "that this version of quenta-flash records on it (flash, verify, install "
                       "or set-address) brings it up to date")
            .arg(*found)
            .arg(latestJournalVersion()));
}

JournalResult<int> migrateJournal(JournalConnection &connection) {
    int found = 0;
    const QString why = connection.inTransaction([&]() -> QString {
        if (connection.isPostgres()) {
            auto locked =
                connection.run(QStringLiteral("SELECT pg_advisory_xact_lock(?)"), {kSchemaLockKey});
            if (!locked) {
                return locked.error;
            }
        }
        auto made = connection.run(
            QStringLiteral("CREATE TABLE IF NOT EXISTS schema (version INTEGER NOT NULL)"));
        if (!made) {
            return made.error;
        }
        const auto version = storedVersion(connection);
        if (!version) {
            return version.error;
        }
        found = *version;
        if (found > latestJournalVersion()) {
            return newerThanProgram(found);
        }
        if (found == latestJournalVersion()) {
            return {};
        }
        if (QString failed = applySteps(connection, found); !failed.isEmpty()) {
            return failed;
        }
        const QString write = found == 0 ? QStringLiteral("INSERT INTO schema (version) VALUES (?)")
                                         : QStringLiteral("UPDATE schema SET version = ?");
        auto written = connection.run(write, {latestJournalVersion()});
        return written ? QString() : written.error;
    });
    if (!why.isEmpty()) {
        return JournalResult<int>::failure(why);
    }
    return {found, {}};
}

} // namespace quenta
