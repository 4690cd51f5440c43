#pragma once

// A real PostgreSQL server for a test, made in a temporary folder and stopped with it: trust
// authentication, no TCP, its Unix socket in that folder. The programs come from PATH or from
// Debian's /usr/lib/postgresql/VERSION/bin. initdb refuses to run as root: as root, the server's
// programs run as the user "nobody", who owns the folder; the role to connect as is "quenta" either
// way. A test server does not wait for the disk (fsync off) unless it is asked to be durable, as a
// production server is.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVersionNumber>

#include <pwd.h>
#include <unistd.h>

namespace quenta::testing {

class PostgresServer {
public:
    explicit PostgresServer(bool durable = false)
        : folder_(QStringLiteral("/tmp/quenta-pg-XXXXXX")), durable_(durable) {
        bin_ = findPrograms();
        if (bin_.isEmpty()) {
            missing_ = QStringLiteral("PostgreSQL is not installed (no initdb in PATH nor in "
                                      "/usr/lib/postgresql/*/bin; scripts/setup.sh installs it)");
            return;
        }
        if (!folder_.isValid() || !handOver()) {
            problem_ = QStringLiteral("no folder for the server: ") + folder_.errorString();
            return;
        }
        const QString data = folder_.filePath(QStringLiteral("data"));
        if (!runServerProgram(QStringLiteral("initdb"),
                              {QStringLiteral("-D"), data, QStringLiteral("--auth=trust"),
                               QStringLiteral("--username=quenta"), QStringLiteral("--no-locale"),
                               QStringLiteral("--encoding=UTF8"), QStringLiteral("--no-sync")}) ||
            !configure(data) ||
            !runServerProgram(QStringLiteral("pg_ctl"),
                              {QStringLiteral("-D"), data, QStringLiteral("-l"),
                               folder_.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                               QStringLiteral("start")})) {
            return;
        }
        running_ = true;
    }

    ~PostgresServer() {
        if (running_) {
            runServerProgram(QStringLiteral("pg_ctl"),
                             {QStringLiteral("-D"), folder_.filePath(QStringLiteral("data")),
                              QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"),
                              QStringLiteral("stop")});
        }
    }

    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    // Why there is no server because PostgreSQL is not installed; empty when it is.
    const QString &missing() const { return missing_; }
    // Why the server did not start although PostgreSQL is installed; empty when it runs.
    const QString &problem() const { return problem_; }
    bool running() const { return running_; }

    const QString socketFolder() const { return folder_.path(); }
    int port() const { return kPort; }

    // The URL of a database on this server.
    QString url(const QString &database) const {
        return QStringLiteral("postgresql://quenta@/%1?host=%2&port=%3")
            .arg(database, folder_.path())
            .arg(kPort);
    }

    // Makes a new empty database: its URL, or an empty text (and problem() says why).
    QString createDatabase(const QString &name) {
        QProcess createdb;
        createdb.start(bin_ + QStringLiteral("/createdb"),
                       {QStringLiteral("-h"), folder_.path(), QStringLiteral("-p"),
                        QString::number(kPort), QStringLiteral("-U"), QStringLiteral("quenta"),
                        name});
        if (!finished(createdb, QStringLiteral("createdb"))) {
            return {};
        }
        return url(name);
    }

private:
    // The socket lives in a folder of its own, so any port number is free there.
    static constexpr int kPort = 5432;

    static QString findPrograms() {
        const QString inPath = QStandardPaths::findExecutable(QStringLiteral("initdb"));
        if (!inPath.isEmpty()) {
            return QFileInfo(QFileInfo(inPath).canonicalFilePath()).path();
        }
        QString best;
        QVersionNumber newest;
        const QDir versions(QStringLiteral("/usr/lib/postgresql"));
        for (const QString &version : versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString bin = versions.filePath(version + QStringLiteral("/bin"));
            const QVersionNumber number = QVersionNumber::fromString(version);
            if (QFileInfo::exists(bin + QStringLiteral("/initdb")) && number > newest) {
                newest = number;
                best = bin;
            }
        }
        return best;
    }

    static bool asRoot() { return ::geteuid() == 0; }

    // As root, gives the folder to "nobody", who runs the server.
    bool handOver() {
        if (!asRoot()) {
            return true;
        }
        const passwd *nobody = ::getpwnam("nobody");
        return nobody != nullptr && ::chown(QFile::encodeName(folder_.path()).constData(),
                                            nobody->pw_uid, nobody->pw_gid) == 0;
    }

    bool configure(const QString &data) {
        QFile conf(data + QStringLiteral("/postgresql.conf"));
        if (!conf.open(QIODevice::Append | QIODevice::Text)) {
            problem_ = QStringLiteral("cannot add to ") + conf.fileName();
            return false;
        }
        conf.write(QStringLiteral("listen_addresses = ''\nunix_socket_directories = '%1'\n"
                                  "port = %2\nfsync = %3\n")
                       .arg(folder_.path())
                       .arg(kPort)
                       .arg(durable_ ? "on" : "off")
                       .toUtf8());
        return true;
    }

    bool runServerProgram(const QString &name, const QStringList &arguments) {
        QProcess process;
        const QString program = bin_ + u'/' + name;
        if (asRoot()) {
            process.start(QStringLiteral("runuser"),
                          QStringList{QStringLiteral("-u"), QStringLiteral("nobody"),
                                      QStringLiteral("--"), program} +
                              arguments);
        } else {
            process.start(program, arguments);
        }
        return finished(process, name);
    }

    bool finished(QProcess &process, const QString &name) {
        const bool done = process.waitForFinished(60000) &&
                          process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (!done) {
            problem_ = name + QStringLiteral(" failed: ") + process.errorString() + u' ' +
                       QString::fromLocal8Bit(process.readAllStandardError() +
                                              process.readAllStandardOutput());
        }
        return done;
    }

    QTemporaryDir folder_;
    bool durable_;
    QString bin_;
    QString missing_;
    QString problem_;
    bool running_ = false;
};

} // namespace quenta::testing
