#include "io/journal/JournalConnection.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace quenta {
namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr int kBusyRetryMs = 20;
constexpr int kConnectTimeoutSeconds = 10;
constexpr int kReconnectPauseMs = 200;
const QString kSqliteBusy = QStringLiteral("5");
const QString kSqliteLocked = QStringLiteral("6");

// The error on one line: PostgreSQL's lines (a message, then a hint) joined so that each still
// reads as a sentence of its own.
QString reason(const QSqlError &error) {
    const QString text = error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
    QString joined;
    for (const QString &line : text.split(u'\n')) {
        const QString simple = line.simplified();
        if (simple.isEmpty()) {
            continue;
        }
        if (!joined.isEmpty()) {
            joined += joined.back().isPunct() ? QStringLiteral(" ") : QStringLiteral("; ");
        }
        joined += simple;
    }
    return joined;
}

QString uniqueName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("quenta-journal-%1").arg(++counter);
}

// The folder of an SQLite file, made when missing; empty when it is there, else why not.
QString makeFolderOf(const QString &file) {
    const std::filesystem::path folder = QFileInfo(file).absolutePath().toStdString();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        return QStringLiteral("the folder %1 cannot be made (%2)")
            .arg(QString::fromStdString(folder.string()),
                 QString::fromLocal8Bit(error.message().c_str()));
    }
    return {};
}

// Keeps PostgreSQL's notices ("relation ... already exists, skipping") off the program's output.
QString quietNotices(const QSqlDatabase &database) {
    QSqlQuery query(database);
    return query.exec(QStringLiteral("SET client_min_messages = warning"))
               ? QString()
               : reason(query.lastError());
}

// Puts an SQLite file in WAL mode, where readers and a writer of several programs go on side by
// side, and has every commit reach the disk before it returns: a serial number once handed out
// stays taken through a power cut. A file that another program is switching to WAL at the same
// moment answers "busy" at once instead of waiting, so the switch is tried again for as long as a
// writer waits.
QString shareFile(const QSqlDatabase &database) {
    const QDeadlineTimer deadline(kBusyTimeoutMs);
    QSqlQuery query(database);
    while (!query.exec(QStringLiteral("PRAGMA journal_mode = WAL"))) {
        const QString code = query.lastError().nativeErrorCode();
        if ((code != kSqliteBusy && code != kSqliteLocked) || deadline.hasExpired()) {
            return reason(query.lastError());
        }
        QThread::msleep(kBusyRetryMs);
    }
    return query.exec(QStringLiteral("PRAGMA synchronous = FULL")) ? QString()
                                                                   : reason(query.lastError());
}

// Every transaction of the session is read only: PostgreSQL refuses any statement that writes.
QString readOnlySession(const QSqlDatabase &database) {
    QSqlQuery query(database);
    return query.exec(QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY"))
               ? QString()
               : reason(query.lastError());
}

// Reads the first page of an SQLite file: where the file cannot be read as it is kept, the
// connection is refused here rather than at its first query.
QString probe(const QSqlDatabase &database) {
    QSqlQuery query(database);
    return query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))
               ? QString()
               : reason(query.lastError());
}

// An SQLite file as a read-only URI: "mode=ro" follows the writers of a WAL journal through the
// shared index beside the file; "immutable=1" reads a file whose folder takes no such index.
QString readOnlyUri(const QString &path, bool immutable) {
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) +
           (immutable ? QStringLiteral("?immutable=1") : QStringLiteral("?mode=ro"));
}

QString missingDriver(const QString &driver, const QString &package) {
    return QStringLiteral("Qt has no %1 driver here (Debian package %2)").arg(driver, package);
}

} // namespace

JournalConnection::JournalConnection(QString name, const JournalPlace &place, JournalAccess access,
                                     int reconnectMs)
    : name_(std::move(name)), place_(place), reconnectMs_(reconnectMs),
      postgres_(place.kind == JournalPlace::Kind::Postgres),
      readOnly_(access == JournalAccess::ReadOnly) {}

JournalConnection::~JournalConnection() {
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
}

JournalResult<std::unique_ptr<JournalConnection>>
JournalConnection::open(const JournalPlace &place, JournalAccess access, int reconnectMs) {
    using Result = JournalResult<std::unique_ptr<JournalConnection>>;
    const bool postgres = place.kind == JournalPlace::Kind::Postgres;
    const bool readOnly = access == JournalAccess::ReadOnly;
    const QString driver = postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        return Result::failure(missingDriver(driver, postgres
                                                         ? QStringLiteral("libqt6sql6-psql")
                                                         : QStringLiteral("libqt6sql6-sqlite")));
    }
    if (!postgres && readOnly && !QFileInfo(place.path).isFile()) {
        return Result::failure(QStringLiteral("there is no file %1").arg(place.path));
    }
    if (!postgres && !readOnly) {
        if (QString why = makeFolderOf(place.path); !why.isEmpty()) {
            return Result::failure(why);
        }
    }
    std::unique_ptr<JournalConnection> connection(
        new JournalConnection(uniqueName(), place, access, reconnectMs));
    QSqlDatabase database = QSqlDatabase::addDatabase(driver, connection->name_);
    if (postgres) {
        database.setHostName(place.host);
        if (place.port != 0) {
            database.setPort(place.port);
        }
        database.setUserName(place.user);
        database.setPassword(place.password);
        database.setDatabaseName(place.database);
        database.setConnectOptions(QStringLiteral("connect_timeout=%1;application_name=quenta")
                                       .arg(kConnectTimeoutSeconds));
    } else if (readOnly) {
        database.setDatabaseName(readOnlyUri(place.path, false));
        database.setConnectOptions(
            QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1")
                .arg(kBusyTimeoutMs));
    } else {
        database.setDatabaseName(place.path);
        database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    }
    if (QString why = connection->connect(); !why.isEmpty()) {
        return Result::failure(why);
    }
    return {std::move(connection), {}};
}

QString JournalConnection::connect() {
    QSqlDatabase database = QSqlDatabase::database(name_, false);
    if (!database.open()) {
        return reason(database.lastError());
    }
    if (postgres_) {
        const QString why = quietNotices(database);
        return why.isEmpty() && readOnly_ ? readOnlySession(database) : why;
    }
    if (readOnly_) {
        if (QString why = probe(database); !why.isEmpty()) {
            database.close();
            database.setDatabaseName(readOnlyUri(place_.path, true));
            frozen_ = database.open() && probe(database).isEmpty();
            if (!frozen_) {
                return why;
            }
        }
    } else if (QString why = shareFile(database); !why.isEmpty()) {
        return why;
    }
    QString why;
    const auto file = fileIdentity(place_.path, &why);
    if (!file) {
        return why;
    }
    file_ = *file;
    return {};
}

QString JournalConnection::sameFile() const {
    if (fileIdentity(place_.path) != file_) {
        return QStringLiteral("its file was removed or replaced while the journal was open");
    }
    return {};
}

bool JournalConnection::connectionLost() {
    return postgres_ && !runOnce(QStringLiteral("SELECT 1"), {});
}

QString JournalConnection::reconnect() {
    const QDeadlineTimer deadline(reconnectMs_);
    QString why;
    do {
        QSqlDatabase::database(name_, false).close();
        why = connect();
        if (why.isEmpty()) {
            return {};
        }
        QThread::msleep(kReconnectPauseMs);
    } while (!deadline.hasExpired());
    return QStringLiteral("the connection was lost and could not be made again within %1 s (%2)")
        .arg(reconnectMs_ / 1000.0)
        .arg(why);
}

JournalResult<QSqlQuery> JournalConnection::run(const QString &sql, const QVariantList &values) {
    if (!postgres_) {
        if (QString why = sameFile(); !why.isEmpty()) {
            return JournalResult<QSqlQuery>::failure(why);
        }
    }
    auto result = runOnce(sql, values);
    if (!result && !transaction_ && connectionLost()) {
        if (QString why = reconnect(); !why.isEmpty()) {
            return JournalResult<QSqlQuery>::failure(result.error + QStringLiteral("; ") + why);
        }
        result = runOnce(sql, values);
    }
    return result;
}

JournalResult<QSqlQuery> JournalConnection::runOnce(const QString &sql,
                                                    const QVariantList &values) {
    // A statement without values runs as it is: PostgreSQL prepares no transaction statement.
    QSqlQuery query(QSqlDatabase::database(name_, false));
    bool done = false;
    if (values.isEmpty()) {
        done = query.exec(sql);
    } else if (query.prepare(sql)) {
        for (const QVariant &value : values) {
            query.addBindValue(value);
        }
        done = query.exec();
    }
    if (!done) {
        return JournalResult<QSqlQuery>::failure(reason(query.lastError()));
    }
    return {std::move(query), {}};
}

QString JournalConnection::inTransaction(const std::function<QString()> &work) {
    const auto once = [&]() -> QString {
        auto begun = run(postgres_ ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"));
        if (!begun) {
            return begun.error;
        }
        begun.value.reset();
        transaction_ = true;
        QString why = work();
        if (why.isEmpty()) {
            auto committed = run(QStringLiteral("COMMIT"));
            transaction_ = false;
            if (committed) {
                return {};
            }
            why = committed.error;
        }
        transaction_ = false;
        runOnce(QStringLiteral("ROLLBACK"), {});
        return why;
    };
    const QString why = once();
    if (why.isEmpty() || !connectionLost()) {
        return why;
    }
    if (QString lost = reconnect(); !lost.isEmpty()) {
        return why + QStringLiteral("; ") + lost;
    }
    return once();
}

} // namespace quenta
