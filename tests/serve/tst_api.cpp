// quenta-flash serve run as a child process over journals this test fills, on a real SQLite file
// and a real PostgreSQL server: its API and metrics, what it refuses, its token, what it does when
// the journal goes away, and what clients that read nothing or crowd it can make it hold.
#include "Flasher.h"
#include "JournalKinds.h"
#include "ServeProcess.h"

#include <QTest>

#include <map>

using namespace quenta;
using namespace quenta::testing;
using Ids = QList<qint64>;

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
    // clang-format off
    for (const Job &job : jobs) { // each column, in the order of JobStart and JobEnd
        written.push_back({{now.addSecs(-60LL * job.minutesAgo), job.station, {}, {}, "flash", {},
                            {}, {}, {}, {}, job.sha == kShaA ? "fw/a.hex" : "fw/b.hex", job.sha,
                            {}, {}, job.serial, job.recipe,
                            job.recipe.isEmpty() ? QString() : QString(64, u'd')},
                           {job.seconds, {}, job.result, 0, 0, 0, 0, 0, job.message, {}, {}, {}}});
    }
    // clang-format on
    return writeJobs(url, written);
}

QJsonObject object(const HttpAnswer &answer) {
    return QJsonDocument::fromJson(answer.body).object();
}

Ids ids(const HttpAnswer &answer) {
    Ids found;
    for (const QJsonValue &job : QJsonDocument::fromJson(answer.body).array()) {
        found << job["id"].toInteger();
    }
    return found;
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
    return lines(summary["stations"].toArray(),
                 {"station", "jobs", "ok", "yield", "running", "failures_in_a_row", "state",
                  "last_result", "firmware", "recipe"});
}

// The failures, each in one line: result|message|recipe|jobs.
QStringList failures(const QJsonObject &summary) {
    return lines(summary["failures"].toArray(), {"result", "message", "recipe", "jobs"});
}

// Queries the view refuses with 400, one a line (a line that ends with \ goes on in the next): the
// target | the error the answer gives.
const char *const kBadQueries = R"(/api/jobs?serial=-1|serial must be a whole number, 0 or more
/api/jobs?limit=0|limit must be a whole number from 1 to 1000
/api/jobs?limit=1001|limit must be a whole number from 1 to 1000
/api/jobs.csv?limit=-1|limit must be a whole number, 0 (all) or more
/api/jobs?after=8|after must be the cursor a page's link gives
/api/jobs.csv?firmware_sha256=abc|firmware_sha256 must be 64 hexadecimal digits
/api/summary?station=|station needs a name
/api/jobs?recipe=|recipe needs a name
/api/summary?span=2h|span must be one of: 1h 8h 24h 7d
/api/summary?limit=5|unknown parameter "limit" (known: span, station, firmware_sha256, recipe)
/api/jobs.csv?span=8h|unknown parameter "span" (known: since, result, serial, firmware_sha256, \
station, recipe, limit, after)
/api/jobs?result=ok&result=refused|the parameter "result" is given twice
/api/unit/twelve|the serial number must be a whole number, 0 or more)";

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

private slots:
    void initTestCase() {
        QVERIFY(files_.isValid());
        qunsetenv("QUENTA_JOURNAL");
        postgres_ = std::make_unique<PostgresServer>();
        QVERIFY(!lineUrl("sqlite").isEmpty());
        QFile token(files_.filePath("token"));
        QVERIFY(token.open(QIODevice::WriteOnly) && token.write("s3cret token\nsecond line\n") > 0);
    }

    void init() { QUENTA_REQUIRE_POSTGRES_IN_ROW(*postgres_); }

    // The failures and the tiles of the span, and of one station, one firmware or one recipe: the
    // summary counts its jobs alone, and a station's tile shows its last job among them. The
    // whole span's headline and hours, and the other spans.
    void summary_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("boards");
        QTest::addColumn<QStringList>("failures");
        QTest::addColumn<QStringList>("tiles");
        for (const QString kind : {"sqlite", "postgresql"}) {
            const auto row = [&kind](const char *name) {
                return &(QTest::addRow("%s, %s", qPrintable(kind), name) << kind);
            };
            *row("none") << QByteArray() << 6 << QStringList{kSilent, kRefused}
                         << QStringList{kTileScript, kTileA,
                                        "c|0|0|null|1|0|green|running|fw/a.hex|null"};
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

    void summary() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, query);
        QFETCH(int, boards);
        QFETCH(QStringList, failures);
        QFETCH(QStringList, tiles);
        const QString url = lineUrl(kind);
        QVERIFY(!url.isEmpty());
        QUENTA_SERVE(serve, {"-J", url});
        const HttpAnswer answer = get(serve.port(), "/api/summary?" + query);
        QCOMPARE(answer.status, 200);
        const QJsonObject summary = object(answer);
        QCOMPARE(summary["boards"].toInteger(), boards);
        QCOMPARE(::failures(summary), failures);
        QCOMPARE(::tiles(summary), tiles);
        if (!query.isEmpty()) {
            return;
        }
        QCOMPARE(answer.header("content-type"), "application/json");
        QCOMPARE(joined(summary, {"span", "boards", "ok", "boards_last_hour", "boards_per_hour",
                                  "units", "first_pass_yield", "final_yield", "median_seconds"}),
                 "8h|6|2|3|0.75|5|0.2|0.4|35");
        QCOMPARE(summary["hours"].toArray().size(), 9);
        qint64 ok = 0;
        qint64 failed = 0;
        for (const QJsonValue &hour : summary["hours"].toArray()) {
            ok += hour["ok"].toInteger();
            failed += hour["failed"].toInteger();
        }
        QCOMPARE(QString("%1 ok, %2 failed").arg(ok).arg(failed), "2 ok, 4 failed");
        QCOMPARE(object(get(serve.port(), "/api/summary?span=24h"))["boards"].toInteger(), 7);
        QCOMPARE(object(get(serve.port(), "/api/summary?span=1h"))["boards"].toInteger(), 3);
        QCOMPARE(object(get(serve.port(), "/api/summary?span=7d"))["hours"].toArray().size(), 169);
    }

    // The jobs as log gives them: JSON newest first, filtered as log filters (a firmware's SHA-256
    // in either case), page after page; CSV byte for byte; a unit's whole history.
    void jobs_data() { addJournalKinds(); }

    void jobs() {
        QFETCH(QString, kind);
        const QString url = lineUrl(kind);
        QVERIFY(!url.isEmpty());
        QUENTA_SERVE(serve, {"-J", url});
        const quint16 port = serve.port();
        const QByteArray since =
            QDateTime::currentDateTimeUtc().addSecs(-25 * 60).toString(Qt::ISODate).toLatin1();
        const std::pair<QByteArray, Ids> listings[] = {
            {"", {8, 3, 2, 1, 6, 5, 4, 7}},
            {"limit=1000", {8, 3, 2, 1, 6, 5, 4, 7}},
            {"result=no-answer", {6, 5, 4}},
            {"station=%3Cscript%3Ealert(1)%3C%2Fscript%3E&limit=1", {6}},
            {"serial=2", {3, 2}},
            {"firmware_sha256=" + kShaB.toUpper().toLatin1() + "&limit=5", {6, 5, 4}},
            {"recipe=Blink%20controller%202.3", {3, 2, 1}},
            {"recipe=Pump%201.0&station=c", {7}},
            {"recipe=Pump%201.0&result=running", {}},
            {"since=" + since, {8, 3, 2}}};
        for (const auto &[query, expected] : listings) {
            QCOMPARE(ids(get(port, "/api/jobs?" + query)), expected);
        }
        // Page after page by the link to the next one: every job once, in order.
        Ids paged;
        QByteArray next = "/api/jobs?result=no-answer&limit=2";
        for (int page = 0; page < 3 && !next.isEmpty(); ++page) {
            const HttpAnswer answer = get(port, next);
            paged += ids(answer);
            const QByteArray link = answer.header("link");
            next = link.endsWith(">; rel=\"next\"") ? link.mid(1, link.size() - 14) : QByteArray();
        }
        QCOMPARE(paged, (Ids{6, 5, 4}));
        QCOMPARE(next, QByteArray());

        const HttpAnswer csv = get(port, "/api/jobs.csv?station=a&limit=100");
        QCOMPARE(csv.status, 200);
        QCOMPARE(csv.header("content-type"), "text/csv; charset=utf-8");
        const FlasherRun log =
            runFlasher({"-J", url, "log", "--csv", "--station", "a", "--limit", "100"});
        QCOMPARE(log.exit, 0);
        QCOMPARE(csv.body, log.out);
        // Station "a" flashed by the one recipe alone.
        QCOMPARE(get(port, "/api/jobs.csv?recipe=Blink%20controller%202.3&limit=100").body,
                 log.out);
        QCOMPARE(get(port, "/api/jobs.csv?station=a&limit=0").body, log.out);

        QCOMPARE(ids(get(port, "/api/unit/2")), (Ids{3, 2}));
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
        QUENTA_SERVE(serve, {"-J", url});
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
        // ODD: the label of the station named `odd`, escaped.
        const auto expected = [](const char *boards, const char *seconds) {
            return QByteArray(
                       "200\n"
                       "text/plain; version=0.0.4; charset=utf-8\n"
                       "quenta_journal_up 1\n"
                       "quenta_boards_total{station=\"b\",recipe=\"\",result=\"ok\"} BOARDS\n"
                       "quenta_boards_total{ODD,recipe=\"Pump 1.0\",result=\"ok\"} 1\n"
                       "quenta_boards_total{ODD,recipe=\"Pump 1.0\",result=\"refused\"} 1\n"
                       "quenta_board_seconds_total{station=\"b\",recipe=\"\"} SECONDS\n"
                       "quenta_board_seconds_total{ODD,recipe=\"Pump 1.0\"} 30.25\n"
                       "quenta_boards_running{station=\"b\",recipe=\"\"} 1\n"
                       "quenta_last_board_started_seconds{station=\"b\"} T\n"
                       "quenta_last_board_started_seconds{ODD} T")
                .replace("ODD", "station=\"li\\\"ne\\\\2\\nx\"")
                .replace("BOARDS", boards)
                .replace("SECONDS", seconds)
                .split('\n');
        };
        QCOMPARE(scrape(), expected("11", "15.5"));
        QCOMPARE(scrape(), expected("11", "15.5"));
        QCOMPARE(fill(url, {{2, "b", {}, "ok", "", 2, kShaB, {}}}), QString());
        QCOMPARE(scrape(), expected("12", "17.5"));
    }

    // What is not a plain GET or HEAD of this server, by one of its names, within the bounds, is
    // refused, and a query parameter is checked as log checks its option (400 with the reason;
    // since and result read as log reads them, their texts are log's own test's);
    // every answer carries the headers that fence the page in. A connection stays open for the
    // next request unless the client closes it, or its request cannot be read further.
    void refusals_data() {
        QTest::addColumn<QByteArray>("head"); // its lines; HOST: this server's Host header
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QString>("error");
        // A head that begins with "/" is a GET of that target.
        const auto row = [](const char *name, const QByteArray &head, int status,
                            bool closes = false, const QString &error = {}) {
            QTest::newRow(name) << (head.startsWith('/') ? "GET " + head + " HTTP/1.1\nHOST" : head)
                                << status << closes << error;
        };
        row("GET", "/api/summary", 200);
        row("localhost", "GET / HTTP/1.1\nHost: localhost:{port}", 200);
        row("Connection: close", "GET /api/summary HTTP/1.1\nHOST\nConnection: close", 200, true);
        row("HTTP/1.0", "GET /line.css HTTP/1.0\nHOST", 200, true);
        row("POST", "POST /api/summary HTTP/1.1\nHOST\nContent-Length: 0", 405);
        row("DELETE", "DELETE /api/jobs HTTP/1.1\nHOST", 405);
        row("a body", "GET /api/jobs HTTP/1.1\nHOST\nContent-Length: 3", 400, true);
        row("chunked body", "GET /api/jobs HTTP/1.1\nHOST\nTransfer-Encoding: chunked", 400, true);
        row("rebound name", "GET /api/jobs HTTP/1.1\nHost: attacker.example:{port}", 421);
        row("other port", "GET / HTTP/1.1\nHost: 127.0.0.1:1", 421);
        row("no host", "GET / HTTP/1.1", 400);
        row("two hosts", "GET / HTTP/1.1\nHOST\nHOST", 400);
        row("not HTTP", "GET / SMTP/1.1\nHOST", 400, true);
        row("long query", "/api/jobs?station=" + QByteArray(1100, 'x'), 414);
        row("long header", "GET / HTTP/1.1\nHOST\nX-Note: " + QByteArray(5000, 'x'), 431);
        row("head past what is read", "GET / HTTP/1.1\nHOST\nX-Note: " + QByteArray(40000, 'x'),
            431, true);
        row("many headers", "GET / HTTP/1.1\nHOST" + QByteArray("\nX-Note: 1").repeated(48), 431);
        row("nothing there", "/etc/passwd", 404);
        row("no such call", "/api/drop", 404);
        for (const QString &line : QString(kBadQueries).replace("\\\n", "").split('\n')) {
            row(qPrintable(line.section('|', 0, 0)), line.section('|', 0, 0).toUtf8(), 400, false,
                line.section('|', 1));
        }
    }

    void refusals() {
        QFETCH(QByteArray, head);
        QFETCH(int, status);
        QFETCH(bool, closes);
        QFETCH(QString, error);
        QUENTA_SERVE(serve, {"-J", lineUrl("sqlite")});
        const QByteArray port = QByteArray::number(serve.port());
        head.replace("HOST", "Host: 127.0.0.1:{port}").replace("{port}", port);
        QTcpSocket socket;
        QVERIFY(connectTo(socket, serve.port()));
        socket.write(head.replace('\n', "\r\n") + "\r\n\r\n");
        const HttpAnswer answer = readAnswers(socket, 1).value(0);
        QCOMPARE(answer.status, status);
        if (!error.isEmpty()) {
            QCOMPARE(object(answer)["error"].toString(), error);
        }
        QCOMPARE(QByteArrayList({answer.header("content-security-policy"),
                                 answer.header("x-content-type-options"),
                                 answer.header("referrer-policy"), answer.header("cache-control")})
                     .join('|'),
                 "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
                 "connect-src 'self'; frame-ancestors 'none'|nosniff|no-referrer|no-store");
        if (status == 405) {
            QCOMPARE(answer.header("allow"), "GET, HEAD");
        }
        if (closes) {
            QCOMPARE(answer.header("connection"), "close");
            QVERIFY(socket.state() == QAbstractSocket::UnconnectedState ||
                    socket.waitForDisconnected(kServeGuardMs));
        } else {
            socket.write(request(serve.port(), "/line.css"));
            QCOMPARE(readAnswers(socket, 1).value(0).status, 200);
        }
    }

    // Requests sent one after another without waiting are answered in their order, a HEAD without
    // its body. SIGINT ends the view with 0.
    void pipelined() {
        QUENTA_SERVE(serve, {"-J", lineUrl("sqlite")});
        const quint16 port = serve.port();
        QTcpSocket socket;
        QVERIFY(connectTo(socket, port));
        socket.write(request(port, "/api/jobs?limit=1") + request(port, "/api/summary?span=1h") +
                     request(port, "/line.css"));
        const QList<HttpAnswer> answers = readAnswers(socket, 3);
        QCOMPARE(answers.size(), 3);
        QCOMPARE(ids(answers[0]), Ids{8});
        QCOMPARE(object(answers[1])["span"].toString(), "1h");
        QCOMPARE(answers[2].header("content-type"), "text/css; charset=utf-8");

        socket.write(request(port, "/", "HEAD"));
        const HttpAnswer head = readAnswers(socket, 1, true).value(0);
        QCOMPARE(head.status, 200);
        QCOMPARE(head.header("content-type"), "text/html; charset=utf-8");
        QVERIFY(head.header("content-length").toInt() > 1000);
        socket.write(request(port, "/api/jobs.csv?limit=0", "HEAD"));
        QCOMPARE(readAnswers(socket, 1, true).value(0).header("content-type"),
                 "text/csv; charset=utf-8");
        socket.write(request(port, "/api/jobs?limit=1"));
        QCOMPARE(ids(readAnswers(socket, 1).value(0)), Ids{8});
        QCOMPARE(serve.stop(SIGINT), 0);
    }

    // A client that sends request after request and reads none of the answers is not read further
    // while they wait: the view's memory stays bounded and others are answered meanwhile. Once it
    // reads, its answers come in order.
    void unreadAnswers() {
        QUENTA_SERVE(serve, {"-J", lineUrl("sqlite")}, "127.0.0.1", true);
        const qint64 before = serve.peakKib();
        QTcpSocket flood;
        QVERIFY(connectTo(flood, serve.port(), 4096));
        const QDeadlineTimer sending(4000);
        while (!sending.hasExpired() && flood.state() == QAbstractSocket::ConnectedState) {
            if (flood.bytesToWrite() < 65536) {
                flood.write(request(serve.port(), "/").repeated(100));
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
        QUENTA_SERVE(serve, {"-J", lineUrl("sqlite")});
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 64; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            QVERIFY(connectTo(*idle.back(), serve.port()));
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
        QUENTA_SERVE(serve, {"-J", url}, "127.0.0.1", true);
        const qint64 before = serve.peakKib();
        QTcpSocket slow;
        QVERIFY(connectTo(slow, serve.port(), 4096));
        slow.write(request(serve.port(), "/api/jobs.csv?limit=100000"));
        QVERIFY(slow.waitForReadyRead(kServeGuardMs));
        QCOMPARE(get(serve.port(), "/api/summary?span=7d").status, 200);
        const qint64 grown = serve.peakKib() - before;
        QVERIFY2(grown < 48 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(grown)));

        slow.setReadBufferSize(0);
        slow.write(request(serve.port(), "/api/jobs?limit=1"));
        const QList<HttpAnswer> answers = readAnswers(slow, 2);
        QCOMPARE(answers.size(), 2);
        const FlasherRun log = runFlasher({"-J", url, "log", "--csv", "--limit", "100000"});
        QCOMPARE(log.exit, 0);
        QCOMPARE(answers[0].body.count('\n'), 60001);
        QVERIFY(answers[0].body == log.out);
        QCOMPARE(ids(answers[1]).size(), 1);
    }

    // Off loopback, every request carries the token: as a bearer token or as the login form's
    // cookie (a right bearer token, none, and the page's script without any are the page's
    // test's). The page itself comes with 401, to show its login form.
    void token_data() {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("status");
        const auto row = [](const char *name, const char *target, const char *header, int status) {
            QTest::newRow(name) << QByteArray(target) << QByteArray(header) << status;
        };
        row("bearer, wrong", "/api/jobs", "Authorization: Bearer s3cret", 401);
        row("cookie among others", "/api/jobs", "Cookie: a=1; quenta_token=s3cret%20token", 200);
        row("cookie, wrong", "/api/unit/1", "Cookie: quenta_token=s3cret%20tokens", 401);
        row("page", "/", "", 401);
        row("metrics", "/metrics", "", 401);
        row("metrics, bearer", "/metrics", "Authorization: Bearer s3cret token", 200);
    }

    void token() {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, header);
        QFETCH(int, status);
        QUENTA_SERVE(serve, {"-J", lineUrl("sqlite"), "--token-file", files_.filePath("token")},
                     "0.0.0.0");
        const HttpAnswer answer =
            get(serve.port(), target, header.isEmpty() ? QByteArrayList{} : QByteArrayList{header});
        QCOMPARE(answer.status, status);
        if (status == 401) {
            QCOMPARE(answer.header("www-authenticate"), "Bearer");
            QVERIFY(!answer.body.contains("\"boards\""));
        }
    }

    // The PostgreSQL server restarts: while it is away the API says so (503, with the reason), and
    // once it is back the view reads it again, without being restarted.
    void reconnects() {
        QUENTA_REQUIRE_POSTGRES(*postgres_);
        QUENTA_SERVE(serve, {"-J", lineUrl("postgresql")});
        QCOMPARE(get(serve.port(), "/api/summary").status, 200);
        QVERIFY(postgres_->stop());
        const HttpAnswer away = get(serve.port(), "/api/summary");
        QCOMPARE(away.status, 503);
        QVERIFY(!object(away)["error"].toString().isEmpty());
        QVERIFY(postgres_->start());
        QTRY_COMPARE_WITH_TIMEOUT(get(serve.port(), "/api/jobs?limit=1").status, 200,
                                  kServeGuardMs);
        QCOMPARE(ids(get(serve.port(), "/api/jobs?limit=1")), Ids{8});
    }
};

QTEST_GUILESS_MAIN(ServeApi)
#include "tst_api.moc"
