// quenta-flash serve run as a child process over journals this test fills, on a real SQLite file
// and a real PostgreSQL server: its API and metrics, what it refuses, its token, what it does when
// the journal goes away, and what clients that read nothing or crowd it can make it hold.
#include "JournalKinds.h"
#include "ServeProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

using namespace quenta;
using namespace quenta::testing;

namespace {

const QString kShaA = QString(64, u'a');
const QString kShaB = QString(64, u'b');
const QString kScript = QStringLiteral("<script>alert(1)</script>");
const QString kBlink = QStringLiteral("Blink controller 2.3");
const QString kPump = QStringLiteral("Pump 1.0");

// A job of the fixture, started `minutesAgo` before the test's start.
struct Job {
    int minutesAgo;
    QString station;
    std::optional<std::uint64_t> serial;
    QString result; // "running": left open
    QString message;
    double seconds;
    QString sha;
    QString recipe; // empty: none followed
};

// Three stations: "a" numbering units by a recipe, one of them reworked; the script-named one,
// without a recipe, failing three times in a row; "c" with an old job by another recipe and one
// running now without one. Ids follow the order here.
const std::vector<Job> kLine = {
    {30, "a", 1, "ok", "downloaded and verified", 10, kShaA, kBlink},
    {20, "a", 2, "refused", "line 5: ERROR", 20, kShaA, kBlink},
    {5, "a", 2, "ok", "downloaded and verified", 30, kShaA, kBlink},
    {180, kScript, {}, "no-answer", "silent", 40, kShaB, {}},
    {170, kScript, {}, "no-answer", "silent", 50, kShaB, {}},
    {160, kScript, {}, "no-answer", "silent", 60, kShaB, {}},
    {540, "c", {}, "ok", "downloaded and verified", 5, kShaA, kPump},
    {1, "c", {}, "running", {}, 0, kShaA, {}},
};

QString fill(const QString &url, const std::vector<Job> &jobs) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::vector<std::pair<JobStart, JobEnd>> written;
    for (const Job &job : jobs) {
        JobStart start;
        start.started = now.addSecs(-60LL * job.minutesAgo);
        start.station = job.station;
        start.command = "flash";
        start.firmware = job.sha == kShaA ? "fw/a.hex" : "fw/b.hex";
        start.firmwareSha256 = job.sha;
        start.serial = job.serial;
        start.recipe = job.recipe;
        start.recipeSha256 = job.recipe.isEmpty() ? QString() : QString(64, u'd');
        JobEnd end;
        end.seconds = job.seconds;
        end.result = job.result;
        end.message = job.message;
        written.push_back({start, end});
    }
    return writeJobs(url, written);
}

QJsonObject object(const HttpAnswer &answer) {
    return QJsonDocument::fromJson(answer.body).object();
}

QList<qint64> ids(const HttpAnswer &answer) {
    QList<qint64> found;
    for (const QJsonValue &job : QJsonDocument::fromJson(answer.body).array()) {
        found << job["id"].toInteger();
    }
    return found;
}

// A JSON value as a line of text: null as "null".
QString shown(const QJsonValue &value) {
    return value.isNull()     ? QStringLiteral("null")
           : value.isString() ? value.toString()
                              : QString::number(value.toDouble());
}

// Each object of an array in one line: the values of `keys`, joined by "|".
QStringList lines(const QJsonValue &array, const QStringList &keys) {
    QStringList lines;
    for (const QJsonValue &each : array.toArray()) {
        QStringList values;
        for (const QString &key : keys) {
            values << shown(each[key]);
        }
        lines << values.join(u'|');
    }
    return lines;
}

// What the line's jobs make of station "a", of the script-named one and of their failures, as
// tiles() and failures() below show them.
const QString kTileA = QStringLiteral("a|3|2|0.666667|0|0|green|ok|fw/a.hex|Blink controller 2.3");
const QString kTileScript = kScript + "|3|0|0|0|3|red|no-answer|fw/b.hex|null";
const QString kRefused = QStringLiteral("refused|line 5: ERROR|Blink controller 2.3|1");
const QString kSilent = QStringLiteral("no-answer|silent|null|3");

// A station's tile in one line: name|jobs|ok|yield|running|in a row|state|last result|firmware|
// recipe.
QStringList tiles(const QJsonObject &summary) {
    return lines(summary["stations"],
                 {"station", "jobs", "ok", "yield", "running", "failures_in_a_row", "state",
                  "last_result", "firmware", "recipe"});
}

// The failures, each in one line: result|message|recipe|jobs.
QStringList failures(const QJsonObject &summary) {
    return lines(summary["failures"], {"result", "message", "recipe", "jobs"});
}

} // namespace

class ServeApi : public QObject {
    Q_OBJECT

    QTemporaryDir files_;
    std::unique_ptr<PostgresServer> postgres_;
    std::map<QString, QString> filled_; // kLine in a journal of each kind, made when first asked

    QString freshUrl(const QString &kind) { return freshJournalUrl(kind, files_, *postgres_); }

    // A journal of the kind that holds kLine, shared by the tests that only read it; empty when it
    // could not be filled.
    QString lineUrl(const QString &kind) {
        if (filled_.count(kind) == 0) {
            const QString url = freshUrl(kind);
            filled_[kind] = fill(url, kLine).isEmpty() ? url : QString();
        }
        return filled_[kind];
    }

    // A recipe in a folder of its own: its name, its firmware and then `journal`, its last lines.
    QString writeRecipe(const QString &folder, const QString &journal) {
        return quenta::testing::writeRecipe(files_.filePath(folder + "/blink.toml"), kBlink,
                                            "blink.hex", kShaA, journal);
    }

    // quenta-flash run to its end, QUENTA_JOURNAL naming `journal` when one is given: its exit
    // status, standard output and standard error.
    struct Ran {
        int exit;
        QByteArray out;
        QString err;
    };
    static Ran runFlasher(const QStringList &arguments, const QString &journal = {}) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!journal.isEmpty()) {
            environment.insert("QUENTA_JOURNAL", journal);
        }
        process.setProcessEnvironment(environment);
        process.start(QUENTA_FLASH, arguments);
        process.waitForFinished(kServeGuardMs);
        return {process.exitCode(), process.readAllStandardOutput(),
                QString::fromLocal8Bit(process.readAllStandardError())};
    }

private slots:
    void initTestCase() {
        QVERIFY(files_.isValid());
        qunsetenv("QUENTA_JOURNAL");
        postgres_ = std::make_unique<PostgresServer>();
        QVERIFY(!lineUrl("sqlite").isEmpty());
    }

    void init() { QUENTA_REQUIRE_POSTGRES_IN_ROW(*postgres_); }

    // The headline, the hours, the failures and the tiles of a span, over both kinds of journal.
    void summary_data() { addJournalKinds(); }

    void summary() {
        QFETCH(QString, kind);
        const QString url = lineUrl(kind);
        QVERIFY(!url.isEmpty());
        ServeProcess serve(QUENTA_FLASH, {"-J", url});
        QVERIFY2(serve.port() != 0, qPrintable(serve.why()));

        const HttpAnswer answer = get(serve.port(), "/api/summary");
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.header("content-type"), "application/json");
        const QJsonObject shift = object(answer);
        QCOMPARE(shift["span"].toString(), "8h");
        QCOMPARE(shift["boards"].toInteger(), 6);
        QCOMPARE(shift["ok"].toInteger(), 2);
        QCOMPARE(shift["boards_last_hour"].toInteger(), 3);
        QCOMPARE(shift["boards_per_hour"].toDouble(), 0.75);
        QCOMPARE(shift["units"].toInteger(), 5);
        QCOMPARE(shift["first_pass_yield"].toDouble(), 0.2);
        QCOMPARE(shift["final_yield"].toDouble(), 0.4);
        QCOMPARE(shift["median_seconds"].toDouble(), 35.0);
        const QJsonArray hours = shift["hours"].toArray();
        QCOMPARE(hours.size(), 9);
        qint64 ok = 0;
        qint64 failed = 0;
        for (const QJsonValue &hour : hours) {
            ok += hour["ok"].toInteger();
            failed += hour["failed"].toInteger();
        }
        QCOMPARE(ok, 2);
        QCOMPARE(failed, 4);
        QCOMPARE(failures(shift), (QStringList{kSilent, kRefused}));
        QCOMPARE(tiles(shift),
                 (QStringList{kTileScript, kTileA, "c|0|0|null|1|0|green|running|fw/a.hex|null"}));

        QCOMPARE(object(get(serve.port(), "/api/summary?span=24h"))["boards"].toInteger(), 7);
        QCOMPARE(object(get(serve.port(), "/api/summary?span=1h"))["boards"].toInteger(), 3);
        QCOMPARE(object(get(serve.port(), "/api/summary?span=7d"))["hours"].toArray().size(), 169);
    }

    // One station, one firmware or one recipe: the summary counts its jobs alone, and a station's
    // tile shows its last job among them.
    void summaryFilters_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("boards");
        QTest::addColumn<QStringList>("failures");
        QTest::addColumn<QStringList>("tiles");
        for (const QString kind : {"sqlite", "postgresql"}) {
            const auto row = [&kind](const char *name) {
                return &(QTest::addRow("%s, %s", qPrintable(kind), name) << kind);
            };
            *row("station") << QByteArray("station=a") << 3 << QStringList{kRefused}
                            << QStringList{kTileA};
            *row("firmware") << "firmware_sha256=" + kShaB.toUpper().toLatin1() << 3
                             << QStringList{kSilent} << QStringList{kTileScript};
            *row("recipe") << QByteArray("recipe=Blink%20controller%202.3") << 3
                           << QStringList{kRefused} << QStringList{kTileA};
            *row("recipe of an earlier job")
                << QByteArray("span=24h&recipe=Pump%201.0") << 1 << QStringList{}
                << QStringList{"c|1|1|1|0|0|amber|ok|fw/a.hex|Pump 1.0"};
            *row("recipe and station") << QByteArray("recipe=Blink%20controller%202.3&station=c")
                                       << 0 << QStringList{} << QStringList{};
            *row("recipe never followed") << QByteArray("recipe=blink%20controller%202.3") << 0
                                          << QStringList{} << QStringList{};
        }
    }

    void summaryFilters() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, query);
        QFETCH(int, boards);
        QFETCH(QStringList, failures);
        QFETCH(QStringList, tiles);
        const QString url = lineUrl(kind);
        QVERIFY(!url.isEmpty());
        ServeProcess serve(QUENTA_FLASH, {"-J", url});
        QVERIFY2(serve.port() != 0, qPrintable(serve.why()));
        const HttpAnswer answer = get(serve.port(), "/api/summary?" + query);
        QCOMPARE(answer.status, 200);
        const QJsonObject summary = object(answer);
        QCOMPARE(summary["boards"].toInteger(), boards);
        QCOMPARE(::failures(summary), failures);
        QCOMPARE(::tiles(summary), tiles);
    }

    // The jobs as log gives them: JSON with its field names, CSV byte for byte, filtered as log
    // filters; a unit's whole history.
    void jobs_data() { addJournalKinds(); }

    void jobs() {
        QFETCH(QString, kind);
        const QString url = lineUrl(kind);
        QVERIFY(!url.isEmpty());
        ServeProcess serve(QUENTA_FLASH, {"-J", url});
        QVERIFY2(serve.port() != 0, qPrintable(serve.why()));
        const quint16 port = serve.port();

        QCOMPARE(ids(get(port, "/api/jobs")), (QList<qint64>{8, 3, 2, 1, 6, 5, 4, 7}));
        QCOMPARE(ids(get(port, "/api/jobs?limit=1000")).size(), 8);
        // Page after page by the link to the next one: every job once, in order.
        QList<qint64> paged;
        QByteArray next = "/api/jobs?result=no-answer&limit=2";
        for (int page = 0; page < 3 && !next.isEmpty(); ++page) {
            const HttpAnswer answer = get(port, next);
            paged += ids(answer);
            const QByteArray link = answer.header("link");
            next = link.endsWith(">; rel=\"next\"") ? link.mid(1, link.size() - 14) : QByteArray();
        }
        QCOMPARE(paged, (QList<qint64>{6, 5, 4}));
        QCOMPARE(next, QByteArray());
        QCOMPARE(ids(get(port, "/api/jobs?result=no-answer")), (QList<qint64>{6, 5, 4}));
        QCOMPARE(ids(get(port, "/api/jobs?station=%3Cscript%3Ealert(1)%3C%2Fscript%3E&limit=1")),
                 QList<qint64>{6});
        QCOMPARE(ids(get(port, "/api/jobs?serial=2")), (QList<qint64>{3, 2}));
        QCOMPARE(ids(get(port, "/api/jobs?firmware_sha256=" + kShaB.toLatin1() + "&limit=5")),
                 (QList<qint64>{6, 5, 4}));
        QCOMPARE(ids(get(port, "/api/jobs?recipe=Blink%20controller%202.3")),
                 (QList<qint64>{3, 2, 1}));
        QCOMPARE(ids(get(port, "/api/jobs?recipe=Pump%201.0&station=c")), QList<qint64>{7});
        QCOMPARE(ids(get(port, "/api/jobs?recipe=Pump%201.0&result=running")), QList<qint64>{});
        const QByteArray since =
            QDateTime::currentDateTimeUtc().addSecs(-25 * 60).toString(Qt::ISODate).toLatin1();
        QCOMPARE(ids(get(port, "/api/jobs?since=" + since)), (QList<qint64>{8, 3, 2}));

        const QJsonObject job =
            QJsonDocument::fromJson(get(port, "/api/jobs?limit=1").body).array().at(0).toObject();
        QStringList columns = kJobColumns.split(',');
        columns.sort();
        QCOMPARE(job.keys(), columns);

        const HttpAnswer csv = get(port, "/api/jobs.csv?station=a&limit=100");
        QCOMPARE(csv.status, 200);
        QCOMPARE(csv.header("content-type"), "text/csv; charset=utf-8");
        const Ran log = runFlasher({"-J", url, "log", "--csv", "--station", "a", "--limit", "100"});
        QCOMPARE(log.exit, 0);
        const QByteArray logged = log.out;
        QCOMPARE(csv.body, logged);
        // Station "a" flashed by the one recipe alone.
        QCOMPARE(get(port, "/api/jobs.csv?recipe=Blink%20controller%202.3&limit=100").body, logged);
        QCOMPARE(get(port, "/api/jobs.csv?station=a&limit=0").body, logged);

        QCOMPARE(ids(get(port, "/api/unit/2")), (QList<qint64>{3, 2}));
        const HttpAnswer none = get(port, "/api/unit/77");
        QCOMPARE(none.status, 404);
        QCOMPARE(object(none)["error"].toString(), "no job wrote the serial number 77");
    }

    // The journal's figures for Prometheus, every job counted once however often they are read
    // and whatever is added between: boards and their seconds by station, recipe and result, the
    // boards running, and whether the journal could be read. A label holds a journal text escaped
    // as the format asks.
    void metrics_data() { addJournalKinds(); }

    void metrics() {
        QFETCH(QString, kind);
        const QString url = freshUrl(kind);
        const QString odd = QStringLiteral("li\"ne\\2\nx");
        std::vector<Job> jobs(10, {60, "b", {}, "ok", "", 1, kShaB, {}});
        jobs.insert(jobs.end(), {{30, odd, {}, "ok", "", 10, kShaA, kPump},
                                 {20, odd, {}, "refused", "line 5: ERROR", 20.25, kShaA, kPump},
                                 {10, "b", {}, "ok", "", 5.5, kShaB, {}},
                                 {1, "b", {}, "running", {}, 0, kShaB, {}}});
        QCOMPARE(fill(url, jobs), QString());
        ServeProcess serve(QUENTA_FLASH, {"-J", url});
        QVERIFY2(serve.port() != 0, qPrintable(serve.why()));
        // The figures, each in a line, with a time shown as T.
        const auto scrape = [&serve] {
            const HttpAnswer answer = get(serve.port(), "/metrics");
            QByteArrayList figures{QByteArray::number(answer.status),
                                   answer.header("content-type")};
            for (const QByteArray &line : answer.body.split('\n')) {
                const qsizetype blank = line.lastIndexOf(' ') + 1;
                if (!line.startsWith('#') && !line.isEmpty()) {
                    figures << line.left(blank) +
                                   (line.startsWith("quenta_last") ? "T" : line.mid(blank));
                }
            }
            return figures;
        };
        const QByteArray station = "station=\"li\\\"ne\\\\2\\nx\"";
        const QByteArray labels = station + ",recipe=\"Pump 1.0\"";
        const auto expected = [&](const char *boards, const char *seconds) {
            return QByteArrayList{
                "200",
                "text/plain; version=0.0.4; charset=utf-8",
                "quenta_journal_up 1",
                "quenta_boards_total{station=\"b\",recipe=\"\",result=\"ok\"} " +
                    QByteArray(boards),
                "quenta_boards_total{" + labels + ",result=\"ok\"} 1",
                "quenta_boards_total{" + labels + ",result=\"refused\"} 1",
                "quenta_board_seconds_total{station=\"b\",recipe=\"\"} " + QByteArray(seconds),
                "quenta_board_seconds_total{" + labels + "} 30.25",
                "quenta_boards_running{station=\"b\",recipe=\"\"} 1",
                "quenta_last_board_started_seconds{station=\"b\"} T",
                "quenta_last_board_started_seconds{" + station + "} T",
            };
        };
        QCOMPARE(scrape(), expected("11", "15.5"));
        QCOMPARE(scrape(), expected("11", "15.5"));
        QCOMPARE(fill(url, {{2, "b", {}, "ok", "", 2, kShaB, {}}}), QString());
        QCOMPARE(scrape(), expected("12", "17.5"));
    }

    // A query parameter is checked as log checks its option: 400 with the reason.
    void badParameters_data() {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QString>("error");
        QTest::newRow("since") << QByteArray("/api/jobs?since=yesterday")
                               << "since must be an ISO 8601 time, such as 2024-05-01 or "
                                  "2024-05-01T08:00+02:00";
        QTest::newRow("result") << QByteArray("/api/jobs?result=fine")
                                << "result must be one of: running ok refused wrong-board "
                                   "bad-file port-error no-answer port-lost interrupted";
        QTest::newRow("serial") << QByteArray("/api/jobs?serial=-1")
                                << "serial must be a whole number, 0 or more";
        QTest::newRow("limit 0") << QByteArray("/api/jobs?limit=0")
                                 << "limit must be a whole number from 1 to 1000";
        QTest::newRow("limit past a page")
            << QByteArray("/api/jobs?limit=1001") << "limit must be a whole number from 1 to 1000";
        QTest::newRow("CSV limit") << QByteArray("/api/jobs.csv?limit=-1")
                                   << "limit must be a whole number, 0 (all) or more";
        QTest::newRow("after") << QByteArray("/api/jobs?after=8")
                               << "after must be the cursor a page's link gives";
        QTest::newRow("firmware") << QByteArray("/api/jobs.csv?firmware_sha256=abc")
                                  << "firmware_sha256 must be 64 hexadecimal digits";
        QTest::newRow("empty station")
            << QByteArray("/api/summary?station=") << "station needs a name";
        QTest::newRow("empty recipe") << QByteArray("/api/jobs?recipe=") << "recipe needs a name";
        QTest::newRow("recipe twice") << QByteArray("/api/summary?recipe=a&recipe=b")
                                      << "the parameter \"recipe\" is given twice";
        QTest::newRow("span") << QByteArray("/api/summary?span=2h")
                              << "span must be one of: 1h 8h 24h 7d";
        QTest::newRow("unknown") << QByteArray("/api/summary?limit=5")
                                 << "unknown parameter \"limit\" (known: span, station, "
                                    "firmware_sha256, recipe)";
        QTest::newRow("unknown to jobs") << QByteArray("/api/jobs.csv?span=8h")
                                         << "unknown parameter \"span\" (known: since, result, "
                                            "serial, firmware_sha256, station, "
                                            "recipe, limit, after)";
        QTest::newRow("twice") << QByteArray("/api/jobs?result=ok&result=refused")
                               << "the parameter \"result\" is given twice";
        QTest::newRow("unit") << QByteArray("/api/unit/twelve")
                              << "the serial number must be a whole number, 0 or more";
    }

    void badParameters() {
        QFETCH(QByteArray, target);
        QFETCH(QString, error);
        ServeProcess serve(QUENTA_FLASH, {"-J", lineUrl("sqlite")});
        QVERIFY2(serve.port() != 0, qPrintable(serve.why()));
        const HttpAnswer answer = get(serve.port(), target);
        QCOMPARE(answer.status, 400);
        QCOMPARE(object(answer)["error"].toString(), error);
    }

    // What is not a plain GET or HEAD of this server, by one of its names, within the bounds, is
    // refused; every answer carries the headers that fence the page in. A connection stays open
    // for the next request unless the client closes it, or its request cannot be read further.
    void refusals_data() {
        QTest::addColumn<QByteArrayList>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("closes");
        const QByteArray host = "Host: 127.0.0.1:{port}";
        QTest::newRow("GET") << QByteArrayList{"GET /api/summary HTTP/1.1", host} << 200 << false;
        QTest::newRow("localhost")
            << QByteArrayList{"GET / HTTP/1.1", "Host: localhost:{port}"} << 200 << false;
        QTest::newRow("Connection: close")
            << QByteArrayList{"GET /api/summary HTTP/1.1", host, "Connection: close"} << 200
            << true;
        QTest::newRow("HTTP/1.0") << QByteArrayList{"GET /line.css HTTP/1.0", host} << 200 << true;
        QTest::newRow("POST") << QByteArrayList{"POST /api/summary HTTP/1.1", host,
                                                "Content-Length: 0"}
                              << 405 << false;
        QTest::newRow("DELETE") << QByteArrayList{"DELETE /api/jobs HTTP/1.1", host} << 405
                                << false;
        QTest::newRow("a body") << QByteArrayList{"GET /api/jobs HTTP/1.1", host,
                                                  "Content-Length: 3"}
                                << 400 << true;
        QTest::newRow("chunked body")
            << QByteArrayList{"GET /api/jobs HTTP/1.1", host, "Transfer-Encoding: chunked"} << 400
            << true;
        QTest::newRow("rebound name")
            << QByteArrayList{"GET /api/jobs HTTP/1.1", "Host: attacker.example:{port}"} << 421
            << false;
        QTest::newRow("other port")
            << QByteArrayList{"GET / HTTP/1.1", "Host: 127.0.0.1:1"} << 421 << false;
        QTest::newRow("no host") << QByteArrayList{"GET / HTTP/1.1"} << 400 << false;
        QTest::newRow("two hosts") << QByteArrayList{"GET / HTTP/1.1", host, host} << 400 << false;
        QTest::newRow("not HTTP") << QByteArrayList{"GET / SMTP/1.1", host} << 400 << true;
        QTest::newRow("long query")
            << QByteArrayList{"GET /api/jobs?station=" + QByteArray(1100, 'x') + " HTTP/1.1", host}
            << 414 << false;
        QTest::newRow("long header")
            << QByteArrayList{"GET / HTTP/1.1", host, "X-Note: " + QByteArray(5000, 'x')} << 431
            << false;
        QTest::newRow("head past what is read")
            << QByteArrayList{"GET / HTTP/1.1", host, "X-Note: " + QByteArray(40000, 'x')} << 431
            << true;
        QByteArrayList many{"GET / HTTP/1.1", host};
        for (int i = 0; i < 48; ++i) {
            many << "X-Note-" + QByteArray::number(i) + ": 1";
        }
        QTest::newRow("many headers") << many << 431 << false;
        QTest::newRow("nothing there")
            << QByteArrayList{"GET /etc/passwd HTTP/1.1", host} << 404 << false;
        QTest::newRow("no such call")
            << QByteArrayList{"GET /api/drop HTTP/1.1", host} << 404 << false;
    }

    void refusals() {
        QFETCH(QByteArrayList, request);
        QFETCH(int, status);
        QFETCH(bool, closes);
        ServeProcess serve(QUENTA_FLASH, {"-J", lineUrl("sqlite")});
        QVERIFY2(serve.port() != 0, qPrintable(serve.why()));
        const QByteArray port = QByteArray::number(serve.port());
        for (QByteArray &line : request) {
            line.replace("{port}", port);
        }
        QTcpSocket socket;
        socket.connectToHost("127.0.0.1", serve.port());
        QVERIFY(socket.waitForConnected(kServeGuardMs));
        socket.write(request.join("\r\n") + "\r\n\r\n");
        const HttpAnswer answer = readAnswers(socket, 1).value(0);
        QCOMPARE(answer.status, status);
        QCOMPARE(answer.header("content-security-policy"),
                 "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
                 "connect-src 'self'; frame-ancestors 'none'");
        QCOMPARE(answer.header("x-content-type-options"), "nosniff");
        QCOMPARE(answer.header("referrer-policy"), "no-referrer");
        QCOMPARE(answer.header("cache-control"), "no-store");
        if (status == 405) {
            QCOMPARE(answer.header("allow"), "GET, HEAD");
        }
        if (closes) {
            QCOMPARE(answer.header("connection"), "close");
            QVERIFY(socket.state() == QAbstractSocket::UnconnectedState ||
                    socket.waitForDisconnected(kServeGuardMs));
        } else {
            socket.write("GET /line.css HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n\r\n");
            QCOMPARE(readAnswers(socket, 1).value(0).status, 200);
        }
    }

    // Requests sent one after another without waiting are answered in their order, a HEAD without
    // its body. SIGINT ends the view with 0.
    void pipelined() {
        ServeProcess serve(QUENTA_FLASH, {"-J", lineUrl("sqlite")});
        QVERIFY2(serve.port() != 0, qPrintable(serve.why()));
        const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(serve.port());
        QTcpSocket socket;
        socket.connectToHost("127.0.0.1", serve.port());
        QVERIFY(socket.waitForConnected(kServeGuardMs));
        socket.write("GET /api/jobs?limit=1 HTTP/1.1\r\n" + host + "\r\n\r\n" +
                     "GET /api/summary?span=1h HTTP/1.1\r\n" + host + "\r\n\r\n" +
                     "GET /line.css HTTP/1.1\r\n" + host + "\r\n\r\n");
        const QList<HttpAnswer> answers = readAnswers(socket, 3);
        QCOMPARE(answers.size(), 3);
        QCOMPARE(ids(answers[0]), QList<qint64>{8});
        QCOMPARE(object(answers[1])["span"].toString(), "1h");
        QCOMPARE(answers[2].header("content-type"), "text/css; charset=utf-8");

        QTcpSocket headThenGet;
        headThenGet.connectToHost("127.0.0.1", serve.port());
        QVERIFY(headThenGet.waitForConnected(kServeGuardMs));
        headThenGet.write("HEAD / HTTP/1.1\r\n" + host + "\r\n\r\n");
        const HttpAnswer head = readAnswers(headThenGet, 1, true).value(0);
        QCOMPARE(head.status, 200);
        QCOMPARE(head.header("content-type"), "text/html; charset=utf-8");
        QVERIFY(head.header("content-length").toInt() > 1000);
        headThenGet.write("HEAD /api/jobs.csv?limit=0 HTTP/1.1\r\n" + host + "\r\n\r\n");
        const HttpAnswer csvHead = readAnswers(headThenGet, 1, true).value(0);
        QCOMPARE(csvHead.header("content-type"), "text/csv; charset=utf-8");
        headThenGet.write("GET /api/jobs?limit=1 HTTP/1.1\r\n" + host + "\r\n\r\n");
        QCOMPARE(ids(readAnswers(headThenGet, 1).value(0)), QList<qint64>{8});
        QCOMPARE(serve.stop(SIGINT), 0);
    }

    // A client that sends request after request and reads none of the answers is not read further
    // while they wait: the view's memory stays bounded and others are answered meanwhile. Once it
    // reads, its answers come in order.
    void unreadAnswers() {
        ServeProcess serve(QUENTA_FLASH, {"-J", lineUrl("sqlite")}, "127.0.0.1",
                           measurableMemory());
        QVERIFY2(serve.port() != 0, qPrintable(serve.why()));
        const qint64 before = serve.peakKib();
        QTcpSocket flood;
        flood.setReadBufferSize(4096);
        flood.connectToHost("127.0.0.1", serve.port());
        QVERIFY(flood.waitForConnected(kServeGuardMs));
        const QByteArray request =
            "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(serve.port()) + "\r\n\r\n";
        const QDeadlineTimer sending(4000);
        while (!sending.hasExpired() && flood.state() == QAbstractSocket::ConnectedState) {
            if (flood.bytesToWrite() < 65536) {
                flood.write(request.repeated(100));
            }
            flood.waitForBytesWritten(100);
        }
        const qint64 grown = serve.peakKib() - before;
        QVERIFY2(grown < 32 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(grown)));
        QCOMPARE(get(serve.port(), "/api/jobs?limit=1").status, 200);
        flood.setReadBufferSize(0);
        const QList<HttpAnswer> answers = readAnswers(flood, 3);
        QCOMPARE(answers.size(), 3);
        for (const HttpAnswer &answer : answers) {
            QCOMPARE(answer.status, 200);
            QCOMPARE(answer.header("content-type"), "text/html; charset=utf-8");
        }
    }

    // An address that opens many idle connections keeps 8 of them, each closed when no request's
    // head has come within its deadline (and then no longer counted); another address is
    // answered meanwhile.
    void crowdedAddress() {
        ServeProcess serve(QUENTA_FLASH, {"-J", lineUrl("sqlite")});
        QVERIFY2(serve.port() != 0, qPrintable(serve.why()));
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 64; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost("127.0.0.1", serve.port());
            QVERIFY(idle.back()->waitForConnected(kServeGuardMs));
        }
        QCOMPARE(get(serve.port(), "/api/jobs?limit=1", {}, QHostAddress("127.0.0.2")).status, 200);
        QTest::qWait(500);
        std::vector<QTcpSocket *> kept;
        for (const auto &socket : idle) {
            socket->waitForReadyRead(20);
            if (socket->state() == QAbstractSocket::ConnectedState) {
                kept.push_back(socket.get());
            }
        }
        QCOMPARE(kept.size(), 8u);
        for (QTcpSocket *socket : kept) {
            QVERIFY(socket->state() == QAbstractSocket::UnconnectedState ||
                    socket->waitForDisconnected(kServeGuardMs));
        }
        QCOMPARE(get(serve.port(), "/api/jobs?limit=1").status, 200);
    }

    // The CSV of many jobs is made in pieces as the client takes them: one that reads none of it
    // holds the view to a bounded memory while others are answered. Read whole, it is log's CSV,
    // and the connection goes on.
    void largeExport() {
        const QString url = freshUrl("sqlite");
        QCOMPARE(fill(url, {}), QString());
        QVERIFY(alterJournal(
            url, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60000) "
                 "INSERT INTO jobs (started, station, command, firmware, serial, result, seconds, "
                 "message) SELECT strftime('%Y-%m-%dT%H:%M:%fZ', 'now', '-' || (i % 5000) || "
                 "' minutes'), 'line-' || (i % 7), 'flash', 'fw/a.hex', i, 'ok', 10 + i % 7, "
                 "'downloaded, and \"verified\"' FROM n"));
        ServeProcess serve(QUENTA_FLASH, {"-J", url}, "127.0.0.1", measurableMemory());
        QVERIFY2(serve.port() != 0, qPrintable(serve.why()));
        const qint64 before = serve.peakKib();
        const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(serve.port());
        QTcpSocket slow;
        slow.setReadBufferSize(4096);
        slow.connectToHost("127.0.0.1", serve.port());
        QVERIFY(slow.waitForConnected(kServeGuardMs));
        slow.write("GET /api/jobs.csv?limit=100000 HTTP/1.1\r\n" + host + "\r\n\r\n");
        QVERIFY(slow.waitForReadyRead(kServeGuardMs));
        QCOMPARE(get(serve.port(), "/api/summary?span=7d").status, 200);
        const qint64 grown = serve.peakKib() - before;
        QVERIFY2(grown < 48 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(grown)));

        slow.setReadBufferSize(0);
        slow.write("GET /api/jobs?limit=1 HTTP/1.1\r\n" + host + "\r\n\r\n");
        const QList<HttpAnswer> answers = readAnswers(slow, 2);
        QCOMPARE(answers.size(), 2);
        const Ran log = runFlasher({"-J", url, "log", "--csv", "--limit", "100000"});
        QCOMPARE(log.exit, 0);
        QCOMPARE(answers[0].body.count('\n'), 60001);
        QVERIFY(answers[0].body == log.out);
        QCOMPARE(ids(answers[1]).size(), 1);
    }

    // Off loopback, every request carries the token: as a bearer token or as the login form's
    // cookie. The page's script and style hold no data and need none; the page itself comes with
    // 401, to show its login form.
    void token_data() {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("status");
        QTest::newRow("none") << QByteArray("/api/summary") << QByteArray() << 401;
        QTest::newRow("bearer") << QByteArray("/api/summary")
                                << QByteArray("Authorization: Bearer s3cret token") << 200;
        QTest::newRow("bearer, wrong")
            << QByteArray("/api/jobs") << QByteArray("Authorization: Bearer s3cret") << 401;
        QTest::newRow("cookie") << QByteArray("/api/jobs")
                                << QByteArray("Cookie: a=1; quenta_token=s3cret%20token") << 200;
        QTest::newRow("cookie, wrong") << QByteArray("/api/unit/1")
                                       << QByteArray("Cookie: quenta_token=s3cret%20tokens") << 401;
        QTest::newRow("page") << QByteArray("/") << QByteArray() << 401;
        QTest::newRow("script") << QByteArray("/line.js") << QByteArray() << 200;
        QTest::newRow("metrics") << QByteArray("/metrics") << QByteArray() << 401;
        QTest::newRow("metrics, bearer")
            << QByteArray("/metrics") << QByteArray("Authorization: Bearer s3cret token") << 200;
    }

    void token() {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, header);
        QFETCH(int, status);
        QFile file(files_.filePath("token"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("s3cret token\nsecond line\n") > 0);
        file.close();
        ServeProcess serve(QUENTA_FLASH, {"-J", lineUrl("sqlite"), "--token-file", file.fileName()},
                           "0.0.0.0");
        QVERIFY2(serve.port() != 0, qPrintable(serve.why()));
        const HttpAnswer answer =
            get(serve.port(), target, header.isEmpty() ? QByteArrayList{} : QByteArrayList{header});
        QCOMPARE(answer.status, status);
        if (status == 401) {
            QCOMPARE(answer.header("www-authenticate"), "Bearer");
            QVERIFY(!answer.body.contains("\"boards\""));
        }
    }

    // Mistakes on the command line are usage errors (exit 2) and nothing listens.
    void usage_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("said");
        QTest::newRow("any address, no token")
            << QStringList{"serve", "--listen", "0.0.0.0:8470"}
            << "--listen 0.0.0.0:8470 is reachable from other machines: give --token-file FILE";
        QTest::newRow("an interface's address, no token")
            << QStringList{"serve", "--listen", "192.0.2.2:8470"}
            << "--listen 192.0.2.2:8470 is reachable from other machines";
        QTest::newRow("IPv6 any, no token")
            << QStringList{"serve", "--listen", "[::]:8470"} << "--listen [::]:8470 is reachable";
        QTest::newRow("a name") << QStringList{"serve", "--listen", "localhost:8470"}
                                << "--listen must be ADDR:PORT with an IP address";
        QTest::newRow("no port") << QStringList{"serve", "--listen", "127.0.0.1"}
                                 << "--listen must be ADDR:PORT";
        QTest::newRow("port too high")
            << QStringList{"serve", "--listen", "127.0.0.1:65536"} << "--listen must be ADDR:PORT";
        QTest::newRow("missing token file")
            << QStringList{"serve", "--token-file", "/nonexistent/token"}
            << "--token-file /nonexistent/token cannot be read";
        QTest::newRow("empty token file") << QStringList{"serve", "--token-file", "/dev/null"}
                                          << "--token-file /dev/null holds no token";
        QTest::newRow("bad host name") << QStringList{"serve", "--allow-host", "a b"}
                                       << "--allow-host \"a b\" is no host name";
        QTest::newRow("certificate without key") << QStringList{"serve", "--tls-cert", "/dev/null"}
                                                 << "--tls-cert and --tls-key are given together";
        QTest::newRow("no certificate")
            << QStringList{"serve", "--tls-cert", "/dev/null", "--tls-key", "/dev/null"}
            << "--tls-cert /dev/null holds no PEM certificate";
        QTest::newRow("for serve only")
            << QStringList{"log", "--listen", "127.0.0.1:1"} << "--listen is for serve only";
        QTest::newRow("no journal") << QStringList{"serve", "--no-journal"}
                                    << "serve reads the journal: it cannot be given --no-journal";
        QTest::newRow("a port") << QStringList{"serve", "-p", "/dev/ttyS0"}
                                << "serve takes no --port";
    }

    void usage() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, said);
        const Ran run = runFlasher(arguments, lineUrl("sqlite"));
        QCOMPARE(run.exit, 2);
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
    }

    // serve --recipe shows the journal the recipe names, an SQLite file's path taken from the
    // recipe's folder; the environment's journal is not the one. SIGTERM ends it with 0.
    void recipeJournal() {
        const QString recipe = writeRecipe("line2", "[journal]\nurl = \"sqlite:line.sqlite\"\n");
        QVERIFY(!recipe.isEmpty());
        const QString journal = files_.filePath("line2/line.sqlite");
        QCOMPARE(fill("sqlite:" + journal, kLine), QString());
        qputenv("QUENTA_JOURNAL", freshUrl("sqlite").toUtf8());
        ServeProcess serve(QUENTA_FLASH, {"--recipe", recipe});
        qunsetenv("QUENTA_JOURNAL");
        QVERIFY2(serve.port() != 0, qPrintable(serve.why()));
        QVERIFY2(serve.why().startsWith("Serving the journal sqlite:" + journal + ", read only"),
                 qPrintable(serve.why()));
        QCOMPARE(ids(get(serve.port(), "/api/jobs?limit=3")), (QList<qint64>{8, 3, 2}));
        QCOMPARE(tiles(object(get(serve.port(), "/api/summary?recipe=Blink%20controller%202.3"))),
                 QStringList{kTileA});
        QCOMPARE(serve.stop(SIGTERM), 0);
    }

    // A recipe that names no journal leaves serve nothing to show: a usage error (exit 2) that
    // says so, whatever journal the environment names.
    void recipeWithoutJournal_data() {
        QTest::addColumn<QString>("journal");
        QTest::newRow("no [journal]") << QString();
        QTest::newRow("[journal] without url")
            << QStringLiteral("[journal]\nstation = \"line2-jig1\"\n");
    }

    void recipeWithoutJournal() {
        QFETCH(QString, journal);
        const QString recipe = writeRecipe(QTest::currentDataTag(), journal);
        QVERIFY(!recipe.isEmpty());
        const Ran run = runFlasher({"--recipe", recipe, "serve"}, lineUrl("sqlite"));
        QCOMPARE(run.exit, 2);
        QCOMPARE(
            run.err,
            "quenta-flash: serve --recipe shows the journal the recipe names, and the recipe " +
                recipe + " names none: give it [journal] url\nTry quenta-flash --help.\n");
    }

    // serve only reads: a journal that is not there is not made, and one of an older schema is not
    // brought up to date; each is refused with what brings it about.
    void refusedJournals() {
        const QString missing = files_.filePath("none/journal.sqlite");
        const Ran none = runFlasher({"-J", "sqlite:" + missing, "serve"});
        QCOMPARE(none.exit, 6);
        QVERIFY2(none.err.contains("there is no journal here yet: the first job that quenta-flash "
                                   "records"),
                 qPrintable(none.err));
        QVERIFY(!QFile::exists(files_.filePath("none")));

        const QString older = freshUrl("sqlite");
        QCOMPARE(fill(older, {}), QString());
        QVERIFY(alterJournal(older, "UPDATE schema SET version = 1"));
        const Ran old = runFlasher({"-J", older, "serve"});
        QCOMPARE(old.exit, 6);
        QVERIFY2(old.err.contains("its schema version is 1, older than this program's (4)"),
                 qPrintable(old.err));
    }

    // The PostgreSQL server restarts: while it is away the API says so (503, with the reason), and
    // once it is back the view reads it again, without being restarted.
    void reconnects() {
        QUENTA_REQUIRE_POSTGRES(*postgres_);
        const QString url = freshUrl("postgresql");
        QCOMPARE(fill(url, kLine), QString());
        ServeProcess serve(QUENTA_FLASH, {"-J", url});
        QVERIFY2(serve.port() != 0, qPrintable(serve.why()));
        QCOMPARE(get(serve.port(), "/api/summary").status, 200);
        QVERIFY(postgres_->stop());
        const HttpAnswer away = get(serve.port(), "/api/summary");
        QCOMPARE(away.status, 503);
        QVERIFY(!object(away)["error"].toString().isEmpty());
        QVERIFY(postgres_->start());
        QTRY_COMPARE_WITH_TIMEOUT(get(serve.port(), "/api/jobs?limit=1").status, 200,
                                  kServeGuardMs);
        QCOMPARE(ids(get(serve.port(), "/api/jobs?limit=1")), QList<qint64>{8});
    }
};

QTEST_GUILESS_MAIN(ServeApi)
#include "tst_api.moc"
