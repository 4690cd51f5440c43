#pragma once

// A real PostgreSQL server for a test or a benchmark, made in a temporary folder and stopped with
// it: trust authentication, no TCP, its Unix socket in that folder. The programs come from PATH or
// from Debian's /usr/lib/postgresql/VERSION/bin. initdb refuses to run as root: as root, the
// server's programs run as the user "nobody", who owns the folder; the role to connect as is
// "quenta" either way; the socket lives in the folder, so the port is always 5432. A test server
// does not wait for the disk (fsync off) unless it is asked to be durable, as a production server
// is. The server never outlives the program that started it: a normal end stops it and removes its
// folder, and when anything else ends the program (qFatal, a signal, a kill, a runner's time
// limit), a watcher started with the server does so and says so on standard error.

#include "WhenProgramEnds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVersionNumber>

#include <memory>

#include <pwd.h>
#include <unistd.h>

namespace quenta::testing {

class PostgresServer {
public:
    explicit PostgresServer(bool durable = false) : folder_("/tmp/quenta-pg-XXXXXX") {
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
        keeper_ = std::make_unique<WhenProgramEnds>(keeperCommand());
        if (!keeper_->watching()) {
            problem_ = "no watcher to stop the server should this program end early";
            return;
        }
        const QString data = folder_.filePath("data");
        QFile conf(data + "/postgresql.conf");
        running_ = run("initdb", {"-D", data, "--auth=trust", "--username=quenta", "--no-locale",
                                  "--encoding=UTF8", "--no-sync"}) &&
                   conf.open(QIODevice::Append) &&
                   conf.write(QString("listen_addresses = ''\nunix_socket_directories = '%1'\n"
                                      "port = 5432\nfsync = %2\n")
                                  .arg(folder_.path(), durable ? "on" : "off")
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
    // The server's folder: its data, its log and its socket.
    QString folder() const { return folder_.path(); }

    // Makes a new empty database: its URL, or an empty text (and problem() says why).
    QString createDatabase(const QString &name) {
        return client("createdb", {name})
                   ? QString("postgresql://quenta@/%1?host=%2&port=5432").arg(name, folder_.path())
                   : QString();
    }

    // Runs the SQL of a file (a dump) in the database `name` with psql, stopping at its first
    // error: false (and problem() says why) when it did not run whole.
    bool load(const QString &name, const QString &file) {
        return client("psql", {"-q", "-X", "-v", "ON_ERROR_STOP=1", "-d", name, "-f", file});
    }

private:
    static QString findPrograms() {
        const QString inPath = QStandardPaths::findExecutable("initdb");
        if (!inPath.isEmpty()) {
            return QFileInfo(QFileInfo(inPath).canonicalFilePath()).path();
        }
        QStringList versions =
            QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(versions.begin(), versions.end(), [](const QString &a, const QString &b) {
            return QVersionNumber::fromString(a) > QVersionNumber::fromString(b);
        });
        for (const QString &version : versions) {
            if (QFileInfo::exists("/usr/lib/postgresql/" + version + "/bin/initdb")) {
                return "/usr/lib/postgresql/" + version + "/bin";
            }
        }
        return {};
    }

    static bool asRoot() { return ::geteuid() == 0; }

    // As root, gives the folder to "nobody", who runs the server.
    bool handOver() {
        const passwd *nobody = asRoot() ? ::getpwnam("nobody") : nullptr;
        return !asRoot() ||
               (nobody != nullptr && ::chown(QFile::encodeName(folder_.path()).constData(),
                                             nobody->pw_uid, nobody->pw_gid) == 0);
    }

    // Stops the server and removes its folder, if this program did not, and then says so (where
    // the program's standard error is still read: a closed pipe must not stop the work).
    QByteArray keeperCommand() const {
        const QByteArray folder = QFile::encodeName(folder_.path());
        const QByteArray pgCtl = QFile::encodeName(bin_ + "/pg_ctl");
        return "trap '' PIPE\n[ -d '" + folder + "' ] || exit 0\n" +
               (asRoot() ? "runuser -u nobody -- '" : "'") + pgCtl + "' -D '" + folder +
               "/data' -m immediate -w stop >/dev/null 2>&1\nrm -rf '" + folder + "'\n" +
               "echo 'the program that started the PostgreSQL server in " + folder +
               " ended without stopping it: the server was stopped and its folder removed' >&2\n";
    }

    bool run(const QString &name, const QStringList &arguments) {
        QProcess process;
        const QStringList program{bin_ + u'/' + name};
        process.start(asRoot() ? "runuser" : program[0],
                      (asRoot() ? QStringList{"-u", "nobody", "--"} + program : QStringList{}) +
                          arguments);
        return finished(process, name);
    }

    // Runs a client program of the server's as the role "quenta".
    bool client(const QString &name, const QStringList &arguments) {
        QProcess process;
        process.start(bin_ + u'/' + name,
                      QStringList{"-h", folder_.path(), "-p", "5432", "-U", "quenta"} + arguments);
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

    std::unique_ptr<WhenProgramEnds> keeper_; // ends after the folder, once it is gone
    QTemporaryDir folder_;
    QString bin_;
    QString missing_;
    QString problem_;
    bool running_ = false;
};

} // namespace quenta::testing
