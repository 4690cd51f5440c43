// Measures the line's view on a journal of 1,000,000 jobs, on an SQLite file and on a PostgreSQL
// server started in a temporary folder: the journal is made by the flasher's own schema (with its
// indexes), filled by the database itself with a year of jobs of 12 stations, and
// quenta-flash serve answers /api/summary for each span, /api/jobs for the page's table and in
// full pages, and /metrics. Prints the median and the slowest of the answers, in milliseconds, as
// the browser waits for them; the whole CSV's time and what it added to the view's peak memory; a
// summary's time while a 100,000-row CSV is being read. Then, against hostile clients: the view's
// peak memory while a client sends requests for 10 s without reading an answer, and the time
// another address waits for an answer while one address holds 64 idle connections.
#include "Postgres.h"
#include "ServeProcess.h"
#include "WhenProgramEnds.h"
#include "io/journal/Journal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <QTcpSocket>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace quenta;
using namespace quenta::testing;

namespace {

constexpr int kJobs = 1000000;
constexpr int kRuns = 9;
// A year of jobs ending now, numbered in the order they started: one every 31.536 s.
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
                          "'now', '-' || ((%1 - i) * %4) || ' seconds') FROM n")
        .arg(kJobs)
        .arg(kColumns, kValues)
        .arg(kSecondsApart);
}

QString postgresFill() {
    return QStringLiteral(
               "INSERT INTO jobs (%1) SELECT %2, to_char((now() AT TIME ZONE 'UTC') - "
               "make_interval(secs => (%4 - i) * %3), 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"') "
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

// The median and the slowest of kRuns answers to `target`, in ms.
std::pair<double, double> timed(quint16 port, const QByteArray &target,
                                const QHostAddress &from = QHostAddress::LocalHost) {
    std::vector<double> ms;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        const HttpAnswer answer = get(port, target, {}, from);
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (answer.status != 200) {
            qFatal("%s: %d %s", target.constData(), answer.status, answer.body.constData());
        }
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

void printTimed(const QByteArray &what, std::pair<double, double> ms) {
    std::printf("  %-46s median %7.1f ms   slowest %7.1f ms\n", what.left(46).constData(), ms.first,
                ms.second);
}

// Reads a CSV of the whole journal on a connection of its own, on a thread of its own: the bytes
// read, once done.
class CsvReader {
public:
    CsvReader(quint16 port, const QByteArray &target) {
        thread_ = std::thread([this, port, target] {
            QTcpSocket socket;
            socket.connectToHost(QStringLiteral("127.0.0.1"), port);
            socket.waitForConnected(kServeGuardMs);
            socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                         QByteArray::number(port) + "\r\nConnection: close\r\n\r\n");
            while (socket.state() == QAbstractSocket::ConnectedState || socket.bytesAvailable()) {
                if (socket.bytesAvailable() > 0 || socket.waitForReadyRead(1000)) {
                    bytes_ += socket.readAll().size();
                }
            }
            done_ = true;
        });
    }
    ~CsvReader() { bytes(); }
    bool done() const { return done_; }
    qint64 bytes() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return bytes_;
    }

private:
    std::thread thread_;
    std::atomic<bool> done_ = false;
    std::atomic<qint64> bytes_ = 0;
};

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
    const QByteArray halfYearAgo = QDateTime::currentDateTimeUtc()
                                       .addDays(-182)
                                       .toString(QStringLiteral("yyyy-MM-ddThh:mm:ss.zzzZ"))
                                       .toLatin1();
    const QList<QByteArray> targets = {"/api/summary?span=1h",
                                       "/api/summary?span=8h",
                                       "/api/summary?span=24h",
                                       "/api/summary?span=7d",
                                       "/api/summary?span=8h&station=line-3",
                                       "/api/summary?span=7d&firmware_sha256=" +
                                           QByteArray(64, 'a'),
                                       "/api/jobs?limit=50&since=" + since,
                                       "/api/jobs?limit=1000",
                                       "/api/jobs?limit=1000&after=" + halfYearAgo + ",1",
                                       "/metrics"};
    for (const QByteArray &target : targets) {
        printTimed(target, timed(serve.port(), target));
    }

    const qint64 before = serve.peakKib();
    QElapsedTimer exporting;
    exporting.start();
    const qint64 bytes = CsvReader(serve.port(), "/api/jobs.csv?limit=0").bytes();
    std::printf("  the whole CSV: %.1f MB in %.1f s; the view's peak memory grew by %.1f MiB\n",
                double(bytes) / 1e6, double(exporting.elapsed()) / 1000.0,
                double(serve.peakKib() - before) / 1024.0);

    CsvReader running(serve.port(), "/api/jobs.csv?limit=100000");
    std::vector<double> ms;
    while (!running.done() && ms.size() < 50) {
        QElapsedTimer timer;
        timer.start();
        if (get(serve.port(), "/api/summary?span=8h").status != 200) {
            qFatal("no summary during the export");
        }
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("  summary, 8 h, while a 100,000-row CSV is read: median %.1f ms, slowest %.1f ms "
                "(%zu answers)\n",
                ms.empty() ? 0.0 : ms[ms.size() / 2], ms.empty() ? 0.0 : ms.back(), ms.size());
}

// A client that sends requests for 10 s and reads none of the answers, and one address that holds
// 64 idle connections while another asks.
void measureHostile(const QString &url) {
    ServeProcess serve(QStringLiteral(QUENTA_FLASH), {"-J", url});
    if (serve.port() == 0) {
        qFatal("serve did not start: %s", qPrintable(serve.why()));
    }
    std::printf("Hostile clients:\n");
    const qint64 before = serve.peakKib();
    QTcpSocket flood;
    flood.setReadBufferSize(4096);
    flood.connectToHost(QStringLiteral("127.0.0.1"), serve.port());
    flood.waitForConnected(kServeGuardMs);
    const QByteArray request =
        "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(serve.port()) + "\r\n\r\n";
    qint64 sent = 0;
    const QDeadlineTimer sending(10000);
    while (!sending.hasExpired() && flood.state() == QAbstractSocket::ConnectedState) {
        if (flood.bytesToWrite() < 65536) {
            sent += flood.write(request.repeated(100));
        }
        flood.waitForBytesWritten(100);
    }
    std::printf("  10 s of requests never read (%.1f MB offered): the view's peak memory grew by "
                "%.1f MiB\n",
                double(sent) / 1e6, double(serve.peakKib() - before) / 1024.0);
    flood.abort();

    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 64; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QStringLiteral("127.0.0.1"), serve.port());
        idle.back()->waitForConnected(kServeGuardMs);
    }
    printTimed("127.0.0.2 while 127.0.0.1 holds 64 idle",
               timed(serve.port(), "/api/summary?span=8h", QHostAddress("127.0.0.2")));
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    // The SQLite journal is large: its folder goes however the benchmark ends, as the server's
    // does.
    QTemporaryDir folder;
    folder.setAutoRemove(false);
    const WhenProgramEnds removal("rm -rf '" + QFile::encodeName(folder.path()) + "'");
    const QString sqlite =
        QStringLiteral("sqlite:") + folder.filePath(QStringLiteral("journal.sqlite"));
    measure(QStringLiteral("SQLite"), sqlite);
    measureHostile(sqlite);
    PostgresServer server(true);
    if (!server.running()) {
        qFatal("no PostgreSQL server: %s%s", qPrintable(server.missing()),
               qPrintable(server.problem()));
    }
    measure(QStringLiteral("PostgreSQL"), server.createDatabase(QStringLiteral("line")));
    return 0;
}
