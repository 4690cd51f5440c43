// Measures the line's view on a journal of 1,000,000 jobs, on an SQLite file and on a PostgreSQL
// server started in a temporary folder: the journal is made by the flasher's own schema (with its
// indexes), filled by the database itself with a year of jobs of 12 stations, and
// quenta-flash serve answers /api/summary for each span and /api/jobs for the page's table. Prints
// the median and the slowest of the answers, in milliseconds, as the browser waits for them.
#include "Postgres.h"
#include "ServeProcess.h"
#include "WhenProgramEnds.h"
#include "io/Journal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quenta;
using namespace quenta::testing;

namespace {

constexpr int kJobs = 1000000;
constexpr int kRuns = 9;
// A year of jobs ending now: one every 31.536 s.
constexpr double kSecondsApart = 365.0 * 24 * 3600 / kJobs;

// The columns of a job numbered i (in SQL): 12 stations, two firmwares, one job in 20 refused and
// one in 33 silent, each board numbered, 10 to 16 seconds a job.
const QString kValues =
    QStringLiteral(
        "'line-' || (i % 12), 'op', 'quenta-flash 4.1.0', 'flash', '/dev/ttyUSB0', '/dev/ttyUSB0', "
        "'VER=4.1', CASE WHEN i % 2 = 0 THEN 'fw/a.hex' ELSE 'fw/b.hex' END, "
        "CASE WHEN i % 2 = 0 THEN '%1' ELSE '%2' END, 1203, 'default', i, "
        "CASE WHEN i % 20 = 0 THEN 'refused' WHEN i % 33 = 0 THEN 'no-answer' ELSE 'ok' END, "
        "CASE WHEN i % 20 = 0 THEN 1 WHEN i % 33 = 0 THEN 4 ELSE 0 END, 1203, 0, 0, "
        "CASE WHEN i % 20 = 0 THEN 'line ' || (i % 1203 + 1) || ': ERROR' WHEN i % 33 = 0 THEN "
        "'no answer' ELSE 'downloaded and verified' END, 10 + i % 7")
        .arg(QString(64, u'a'), QString(64, u'b'));
const QString kColumns =
    QStringLiteral("station, operator, tool, command, port, device, bootloader, firmware, "
                   "firmware_sha256, records, series, serial, result, exit, lines, retries, "
                   "resumed, message, seconds, started");

QString sqliteFill() {
    return QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE "
                          "i < %1) INSERT INTO jobs (%2) SELECT %3, strftime('%Y-%m-%dT%H:%M:%fZ', "
                          "'now', '-' || (i * %4) || ' seconds') FROM n")
        .arg(kJobs)
        .arg(kColumns, kValues)
        .arg(kSecondsApart);
}

QString postgresFill() {
    return QStringLiteral("INSERT INTO jobs (%1) SELECT %2, to_char((now() AT TIME ZONE 'UTC') - "
                          "make_interval(secs => i * %3), 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"') "
                          "FROM generate_series(1, %4) AS n(i)")
        .arg(kColumns, kValues)
        .arg(kSecondsApart)
        .arg(kJobs);
}

void fill(const QString &url) {
    const JournalPlace place = *readJournalPlace(url);
    if (auto made = Journal::open(place); !made) {
        qFatal("%s", qPrintable(made.error));
    }
    const bool sqlite = place.kind == JournalPlace::Kind::Sqlite;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? "QSQLITE" : "QPSQL", "fill");
        db.setDatabaseName(sqlite ? place.path : place.database);
        db.setHostName(place.host);
        db.setPort(place.port);
        db.setUserName(place.user);
        QSqlQuery query(db);
        if (!db.open() || !query.exec(sqlite ? sqliteFill() : postgresFill())) {
            qFatal("cannot fill the journal: %s", qPrintable(query.lastError().text()));
        }
        // PostgreSQL's autovacuum would gather the statistics of the new rows within a minute.
        if (!sqlite && !query.exec(QStringLiteral("ANALYZE jobs"))) {
            qFatal("cannot analyze: %s", qPrintable(query.lastError().text()));
        }
    }
    QSqlDatabase::removeDatabase("fill");
}

void measure(const QString &kind, const QString &url) {
    QElapsedTimer filling;
    filling.start();
    fill(url);
    std::printf("%s: %d jobs made in %.1f s\n", qPrintable(kind), kJobs,
                double(filling.elapsed()) / 1000.0);
    ServeProcess serve(QStringLiteral(QUENTA_FLASH), {"-J", url});
    if (serve.port() == 0) {
        qFatal("serve did not start: %s", qPrintable(serve.why()));
    }
    const QByteArray since =
        QDateTime::currentDateTimeUtc().addSecs(-8 * 3600).toString(Qt::ISODate).toLatin1();
    const QList<QByteArray> targets = {"/api/summary?span=1h",
                                       "/api/summary?span=8h",
                                       "/api/summary?span=24h",
                                       "/api/summary?span=7d",
                                       "/api/summary?span=8h&station=line-3",
                                       "/api/summary?span=7d&firmware_sha256=" +
                                           QByteArray(64, 'a'),
                                       "/api/jobs?limit=50&since=" + since};
    for (const QByteArray &target : targets) {
        std::vector<double> ms;
        for (int run = 0; run < kRuns; ++run) {
            QElapsedTimer timer;
            timer.start();
            const HttpAnswer answer = get(serve.port(), target);
            ms.push_back(double(timer.nsecsElapsed()) / 1e6);
            if (answer.status != 200) {
                qFatal("%s: %d %s", target.constData(), answer.status, answer.body.constData());
            }
        }
        std::sort(ms.begin(), ms.end());
        std::printf("  %-46s median %7.1f ms   slowest %7.1f ms\n", target.left(46).constData(),
                    ms[ms.size() / 2], ms.back());
    }
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    // The SQLite journal is large: its folder goes however the benchmark ends, as the server's
    // does.
    QTemporaryDir folder;
    folder.setAutoRemove(false);
    const WhenProgramEnds removal("rm -rf '" + QFile::encodeName(folder.path()) + "'");
    measure(QStringLiteral("SQLite"),
            QStringLiteral("sqlite:") + folder.filePath(QStringLiteral("journal.sqlite")));
    PostgresServer server(true);
    if (!server.running()) {
        qFatal("no PostgreSQL server: %s%s", qPrintable(server.missing()),
               qPrintable(server.problem()));
    }
    measure(QStringLiteral("PostgreSQL"), server.createDatabase(QStringLiteral("line")));
    return 0;
}
