#pragma once

// The two kinds of journal a test runs on, as rows of a data-driven test, and a new, empty journal
// of either: an SQLite file in the test's folder, or a database of a real PostgreSQL server that
// the test started. A test may look into a journal over a connection of its own.

#include "Postgres.h"
#include "io/journal/Journal.h"
#include "io/journal/JournalPlace.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <utility>
#include <vector>

namespace quenta::testing {

// The columns of the table jobs, in their order, as log --csv heads them.
inline const QString kJobColumns =
    QStringLiteral("id,started,seconds,station,operator,tool,command,port,device,usb_id,usb_serial,"
                   "address,bootloader,firmware,firmware_sha256,records,series,serial,result,exit,"
                   "lines,retries,resumed,message,recipe,recipe_sha256,verify_passes");

inline void addJournalKinds() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

// A journal of `kind` ("sqlite" or "postgresql") that nothing has used yet: its URL.
inline QString freshJournalUrl(const QString &kind, const QTemporaryDir &files,
                               PostgresServer &postgres) {
    static int made = 0;
    const QString name = QStringLiteral("journal%1").arg(++made);
    return kind == QLatin1String("sqlite") ? "sqlite:" + files.filePath(name + ".sqlite")
                                           : postgres.createDatabase(name);
}

// What `look` finds in the journal at `url`, given a connection of the test's own to its database.
template <typename Look> auto lookInto(const QString &url, Look look) {
    const JournalPlace place = *readJournalPlace(url);
    const bool sqlite = place.kind == JournalPlace::Kind::Sqlite;
    QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? "QSQLITE" : "QPSQL", "look");
    db.setDatabaseName(sqlite ? place.path : place.database);
    db.setHostName(place.host);
    db.setPort(place.port);
    db.setUserName(place.user);
    db.open();
    const auto found = look(db);
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("look");
    return found;
}

// Runs one SQL statement on the journal at `url` behind the program's back: whether it ran.
inline bool alterJournal(const QString &url, const QString &statement) {
    return lookInto(url, [&](QSqlDatabase &db) { return QSqlQuery(statement, db).isActive(); });
}

// Writes a recipe to `path` (making its folder): its name, its firmware file and that file's
// SHA-256, then `rest`, its last lines. Its path, or empty when it could not be written.
inline QString writeRecipe(const QString &path, const QString &name, const QString &firmware,
                           const QString &sha256, const QString &rest) {
    QFile recipe(path);
    return QDir().mkpath(QFileInfo(path).path()) && recipe.open(QIODevice::WriteOnly) &&
                   recipe.write(QStringLiteral("schema_version = 1\nname = \"%1\"\n\n[firmware]\n"
                                               "file = \"%2\"\nsha256 = \"%3\"\n%4")
                                    .arg(name, firmware, sha256, rest)
                                    .toUtf8()) > 0
               ? path
               : QString();
}

// Writes jobs into the journal at `url`, each started and then, unless its end's result is
// "running", ended: why it could not, or an empty text.
inline QString writeJobs(const QString &url, const std::vector<std::pair<JobStart, JobEnd>> &jobs) {
    auto journal = Journal::open(*readJournalPlace(url));
    if (!journal) {
        return journal.error;
    }
    QString why;
    for (auto job = jobs.begin(); job != jobs.end() && why.isEmpty(); ++job) {
        const auto id = (*journal)->start(job->first);
        why = !id ? id.error
              : job->second.result == QLatin1String("running")
                  ? QString()
                  : (*journal)->complete(*id, job->second);
    }
    return why;
}

} // namespace quenta::testing

// In a Qt Test function: skips it where PostgreSQL is not installed (CI installs it), and fails it
// where the server did not start.
#define QUENTA_REQUIRE_POSTGRES(server)                                                            \
    do {                                                                                           \
        if (!(server).missing().isEmpty()) {                                                       \
            QSKIP(qPrintable((server).missing()));                                                 \
        }                                                                                          \
        QVERIFY2((server).running(), qPrintable((server).problem()));                              \
    } while (false)

// In a test's init(): the same, for the rows of a data-driven test that run on PostgreSQL.
#define QUENTA_REQUIRE_POSTGRES_IN_ROW(server)                                                     \
    do {                                                                                           \
        if (QByteArray(QTest::currentDataTag()).startsWith("postgresql")) {                        \
            QUENTA_REQUIRE_POSTGRES(server);                                                       \
        }                                                                                          \
    } while (false)
