#pragma once

// The two kinds of journal a test runs on, as rows of a data-driven test, and a new, empty journal
// of either: an SQLite file in the test's folder, or a database of a real PostgreSQL server that
// the test started. A test may look into a journal over a connection of its own.
//
// The server is made in a temporary folder and stopped with it: trust authentication, no TCP, its
// Unix socket in that folder, fsync off. The programs come from PATH or from Debian's
// /usr/lib/postgresql/VERSION/bin. initdb refuses to run as root: as root, the server's programs
// run as the user "nobody", who owns the folder; the role to connect as is "quenta" either way;
// the socket lives in the folder, so the port is always 5432.

#include "io/Journal.h"
#include "io/JournalPlace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QVersionNumber>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quenta::testing {

class PostgresServer {
public:
    PostgresServer() : folder_("/tmp/quenta-pg-XXXXXX") {
        bin_ = findPrograms();
        if (bin_.isEmpty()) {
            missing_ = "PostgreSQL is not installed (no initdb in PATH nor in "
                       "/usr/lib/postgresql/*/bin; scripts/setup.sh installs it)";
            return;
        }
        if (!folder_.isValid() || !handOver()) {
            problem_ = "no folder for the server: " + folder_.errorString();
            return;
        }
        const QString data = folder_.filePath("data");
        QFile conf(data + "/postgresql.conf");
        running_ = run("initdb", {"-D", data, "--auth=trust", "--username=quenta", "--no-locale",
                                  "--encoding=UTF8", "--no-sync"}) &&
                   conf.open(QIODevice::Append) &&
                   conf.write(QString("listen_addresses = ''\nunix_socket_directories = '%1'\n"
                                      "port = 5432\nfsync = off\n")
                                  .arg(folder_.path())
                                  .toUtf8()) > 0 &&
                   conf.flush() && start();
    }

    ~PostgresServer() {
        if (running_) {
            stop();
        }
    }

    // Stops the server, as an administrator's restart does, closing every connection; starts it
    // again; or both. Whether it did (else problem() says why).
    bool restart() { return stop() && start(); }
    bool stop() {
        running_ = !run("pg_ctl", {"-D", folder_.filePath("data"), "-m", "fast", "-w", "stop"});
        return !running_;
    }
    bool start() {
        running_ = run("pg_ctl", {"-D", folder_.filePath("data"), "-l",
                                  folder_.filePath("server.log"), "-w", "start"});
        return running_;
    }

    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    // Why there is no server because PostgreSQL is not installed; empty when it is.
    const QString &missing() const { return missing_; }
    // Why the server did not start although PostgreSQL is installed; empty when it runs.
    const QString &problem() const { return problem_; }
    bool running() const { return running_; }

    // Makes a new empty database: its URL, or an empty text (and problem() says why).
    QString createDatabase(const QString &name) {
        QProcess createdb;
        createdb.start(bin_ + "/createdb",
                       {"-h", folder_.path(), "-p", "5432", "-U", "quenta", name});
        return finished(createdb, "createdb")
                   ? QString("postgresql://quenta@/%1?host=%2&port=5432").arg(name, folder_.path())
                   : QString();
    }

    // Runs the SQL of a file (a dump) in the database `name` with psql, stopping at its first
    // error: false (and problem() says why) when it did not run whole.
    bool load(const QString &name, const QString &file) {
        QProcess psql;
        psql.start(bin_ + "/psql", {"-h", folder_.path(), "-p", "5432", "-U", "quenta", "-q", "-X",
                                    "-v", "ON_ERROR_STOP=1", "-d", name, "-f", file});
        return finished(psql, "psql");
    }

private:
    static QString findPrograms() {
        const QString inPath = QStandardPaths::findExecutable("initdb");
        if (!inPath.isEmpty()) {
            return QFileInfo(QFileInfo(inPath).canonicalFilePath()).path();
        }
        QString best;
        QVersionNumber newest;
        const QDir versions("/usr/lib/postgresql");
        for (const QString &version : versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString bin = versions.filePath(version + "/bin");
            if (QFileInfo::exists(bin + "/initdb") &&
                QVersionNumber::fromString(version) > newest) {
                newest = QVersionNumber::fromString(version);
                best = bin;
            }
        }
        return best;
    }

    static bool asRoot() { return ::geteuid() == 0; }

    // As root, gives the folder to "nobody", who runs the server.
    bool handOver() {
        const passwd *nobody = asRoot() ? ::getpwnam("nobody") : nullptr;
        return !asRoot() ||
               (nobody != nullptr && ::chown(QFile::encodeName(folder_.path()).constData(),
                                             nobody->pw_uid, nobody->pw_gid) == 0);
    }

    bool run(const QString &name, const QStringList &arguments) {
        QProcess process;
        const QString program = bin_ + u'/' + name;
        if (asRoot()) {
            process.start("runuser", QStringList{"-u", "nobody", "--", program} + arguments);
        } else {
            process.start(program, arguments);
        }
        return finished(process, name);
    }

    bool finished(QProcess &process, const QString &name) {
        const bool done = process.waitForFinished(60000) &&
                          process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (!done) {
            problem_ = name + " failed: " + process.errorString() + u' ' +
                       QString::fromLocal8Bit(process.readAllStandardError() +
                                              process.readAllStandardOutput());
        }
        return done;
    }

    QTemporaryDir folder_;
    QString bin_;
    QString missing_;
    QString problem_;
    bool running_ = false;
};

// The columns of the table jobs, in their order, as log --csv heads them.
inline const QString kJobColumns =
    QStringLiteral("id,started,seconds,station,operator,tool,command,port,device,usb_id,usb_serial,"
                   "address,bootloader,firmware,firmware_sha256,records,series,serial,result,exit,"
                   "lines,retries,resumed,message,recipe,recipe_sha256");

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
    if (!QDir().mkpath(QFileInfo(path).path()) || !recipe.open(QIODevice::WriteOnly)) {
        return {};
    }
    recipe.write(QStringLiteral("schema_version = 1\nname = \"%1\"\n\n[firmware]\nfile = \"%2\"\n"
                                "sha256 = \"%3\"\n")
                     .arg(name, firmware, sha256)
                     .toUtf8() +
                 rest.toUtf8());
    return path;
}

// Writes jobs into the journal at `url`, each started and then, unless its end's result is
// "running", ended: why it could not, or an empty text.
inline QString writeJobs(const QString &url, const std::vector<std::pair<JobStart, JobEnd>> &jobs) {
    auto journal = Journal::open(*readJournalPlace(url));
    if (!journal) {
        return journal.error;
    }
    for (const auto &[start, end] : jobs) {
        const auto id = (*journal)->start(start);
        const QString why = !id ? id.error
                            : end.result == QLatin1String("running")
                                ? QString()
                                : (*journal)->complete(*id, end);
        if (!why.isEmpty()) {
            return why;
        }
    }
    return {};
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
