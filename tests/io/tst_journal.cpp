// The journal of board jobs on a real SQLite file and on a real PostgreSQL server started for the
// test, with several programs at once; and the listing's three forms.
#include "Postgres.h"
#include "io/Journal.h"
#include "io/JournalFormat.h"
#include "io/JournalPlace.h"
#include "io/JournalTime.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimeZone>
#include <QtTest>

#include <algorithm>

using namespace quenta;
using namespace quenta::testing;
using Ids = QList<qint64>;

namespace {

const QString kShaA =
    QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
const QString kShaB =
    QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");

JobStart fullStart() {
    JobStart job;
    job.started = QDateTime(QDate(2024, 5, 1), QTime(12, 34, 56, 789), QTimeZone(7200));
    job.station = QStringLiteral("bench-2");
    job.operatorName = QStringLiteral("ana");
    job.tool = QStringLiteral("quenta-flash 4.1.0");
    job.command = QStringLiteral("flash");
    job.port = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0");
    job.device = QStringLiteral("/dev/ttyUSB0");
    job.usbId = QStringLiteral("0403:6001");
    job.usbSerial = QStringLiteral("A50285BI");
    job.address = 17;
    job.firmware = QStringLiteral("fw/blink.hex");
    job.firmwareSha256 = kShaA.toUpper();
    job.records = 123;
    job.series = QStringLiteral("line");
    job.serial = 9223372036854775806u;
    return job;
}

QString shown(const std::optional<qint64> &value) {
    return value ? QString::number(*value) : QStringLiteral("-");
}

// Every column of a row as "name=value"; "-" for a number that is not there.
QStringList fields(const JobRow &r) {
    return {"id=" + QString::number(r.id),
            "started=" + r.started,
            "seconds=" + (r.seconds ? QString::number(*r.seconds) : "-"),
            "station=" + r.station,
            "operator=" + r.operatorName,
            "tool=" + r.tool,
            "command=" + r.command,
            "port=" + r.port,
            "device=" + r.device,
            "usb_id=" + r.usbId,
            "usb_serial=" + r.usbSerial,
            "address=" + shown(r.address),
            "bootloader=" + r.bootloader,
            "firmware=" + r.firmware,
            "firmware_sha256=" + r.firmwareSha256,
            "records=" + shown(r.records),
            "series=" + r.series,
            "serial=" + (r.serial ? QString::number(*r.serial) : "-"),
            "result=" + r.result,
            "exit=" + shown(r.exit),
            "lines=" + shown(r.lines),
            "retries=" + shown(r.retries),
            "resumed=" + shown(r.resumed),
            "message=" + r.message};
}

QStringList startFields(const QString &end) {
    return {"id=1",
            "started=2024-05-01T10:34:56.789Z",
            end == "running" ? "seconds=-" : "seconds=12.345",
            "station=bench-2",
            "operator=ana",
            "tool=quenta-flash 4.1.0",
            "command=flash",
            "port=/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0",
            end == "running" ? "device=/dev/ttyUSB0" : "device=/dev/ttyUSB1",
            "usb_id=0403:6001",
            "usb_serial=A50285BI",
            "address=17",
            end == "running" ? "bootloader=" : "bootloader=VER=2.1",
            "firmware=fw/blink.hex",
            "firmware_sha256=" + kShaA,
            "records=123",
            "series=line",
            "serial=9223372036854775806",
            "result=" + end,
            end == "running" ? "exit=-" : "exit=4",
            end == "running" ? "lines=-" : "lines=120",
            end == "running" ? "retries=-" : "retries=2",
            end == "running" ? "resumed=-" : "resumed=1",
            end == "running" ? "message=" : "message=no answer after line 120"};
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

    QTemporaryDir files_;
    std::unique_ptr<PostgresServer> postgres_;
    int made_ = 0;

    // A new journal of a kind ("sqlite" or "postgresql"): its URL.
    QString freshUrl(const QString &kind) {
        const QString name = QStringLiteral("journal%1").arg(++made_);
        return kind == "sqlite" ? "sqlite:" + files_.filePath(name + ".sqlite")
                                : postgres_->createDatabase(name);
    }

    static void addKinds() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("sqlite") << QStringLiteral("sqlite");
        QTest::newRow("postgresql") << QStringLiteral("postgresql");
    }

    // A connection of the test's own, beside the journal's, to look into its database.
    static QSqlDatabase lookInto(const QString &url, const QString &name) {
        const JournalPlace place = *readJournalPlace(url);
        const bool sqlite = place.kind == JournalPlace::Kind::Sqlite;
        QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? "QSQLITE" : "QPSQL", name);
        db.setDatabaseName(sqlite ? place.path : place.database);
        db.setHostName(place.host);
        db.setPort(place.port);
        db.setUserName(place.user);
        db.open();
        return db;
    }

    static std::unique_ptr<Journal> open(const QString &url) {
        auto journal = Journal::open(*readJournalPlace(url));
        if (!journal) {
            qWarning() << journal.error;
            return nullptr;
        }
        return std::move(*journal);
    }

private slots:
    void initTestCase() {
        QVERIFY(files_.isValid());
        postgres_ = std::make_unique<PostgresServer>();
    }

    void init() {
        if (QByteArray(QTest::currentDataTag()) != "postgresql") {
            return;
        }
        if (!postgres_->missing().isEmpty()) {
            QSKIP(qPrintable(postgres_->missing()));
        }
        QVERIFY2(postgres_->running(), qPrintable(postgres_->problem()));
    }

    // Each place as kind|path|user|password|host|port|database, and as shown; or the error.
    void places_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sqlite") << "sqlite:/var/lib/quenta/j.sqlite"
                                << "sqlite|/var/lib/quenta/j.sqlite||||0|"
                                   " sqlite:/var/lib/quenta/j.sqlite";
        QTest::newRow("sqlite cleaned") << "sqlite:/var/lib/../j.sqlite"
                                        << "sqlite|/var/j.sqlite||||0| sqlite:/var/j.sqlite";
        QTest::newRow("tcp") << "postgresql://quenta@db.line:5433/jobs"
                             << "postgresql||quenta||db.line|5433|jobs"
                                " postgresql://quenta@db.line:5433/jobs";
        QTest::newRow("password not shown")
            << "postgres://op:s%40cret@db/jobs"
            << "postgresql||op|s@cret|db|0|jobs postgresql://op@db/jobs";
        QTest::newRow("socket") << "postgresql://quenta@/jobs?host=/run/pg&port=5999"
                                << "postgresql||quenta||/run/pg|5999|jobs"
                                   " postgresql://quenta@/jobs?host=/run/pg&port=5999";
        QTest::newRow("socket encoded") << "postgresql:///jobs?host=%2Frun%2Fpg"
                                        << "postgresql||||/run/pg|0|jobs"
                                           " postgresql:///jobs?host=/run/pg";
        const QString expected = "write sqlite:PATH or postgresql://USER@HOST:PORT/DB (or "
                                 "postgresql://USER@/DB?host=/socket/folder&port=N)";
        QTest::newRow("other scheme") << "mysql://db/jobs"
                                      << "\"mysql://db/jobs\" is no journal URL: " + expected;
        QTest::newRow("bare path") << "/tmp/j.sqlite"
                                   << "\"/tmp/j.sqlite\" is no journal URL: " + expected;
        QTest::newRow("sqlite without file")
            << "sqlite:"
            << "\"sqlite:\" is no journal URL: it names no file; write sqlite:PATH";
        QTest::newRow("no database")
            << "postgresql://db:5432/"
            << "\"postgresql://db:5432/\" is no journal URL: it names no database after the "
               "host; " +
                   expected;
        QTest::newRow("bad port") << "postgresql://quenta@/jobs?port=70000"
                                  << "\"postgresql://quenta@/jobs?port=70000\" is no journal "
                                     "URL: the port \"70000\" is no number from 1 to 65535";
        QTest::newRow("unknown parameter")
            << "postgresql://db/jobs?sslmode=require"
            << "\"postgresql://db/jobs?sslmode=require\" is no journal URL: the parameter "
               "\"sslmode\" is not understood (only host and port are)";
    }

    void places() {
        QFETCH(QString, url);
        QFETCH(QString, expected);
        const auto place = readJournalPlace(url);
        QString actual = place.error;
        if (place) {
            const bool sqlite = place->kind == JournalPlace::Kind::Sqlite;
            actual = QStringList{sqlite ? "sqlite" : "postgresql",
                                 place->path,
                                 place->user,
                                 place->password,
                                 place->host,
                                 QString::number(place->port),
                                 place->database}
                         .join('|') +
                     ' ' + place->shown();
        }
        QCOMPARE(actual, expected);
    }

    void defaultPlace_data() {
        QTest::addColumn<QByteArray>("journal");  // QUENTA_JOURNAL; "unset" for none
        QTest::addColumn<QByteArray>("dataHome"); // XDG_DATA_HOME; "unset" for none
        QTest::addColumn<QString>("expected");
        QTest::newRow("QUENTA_JOURNAL first")
            << QByteArray("postgresql://op@/line?host=/run/pg") << QByteArray("/srv/data")
            << "postgresql://op@/line?host=/run/pg";
        QTest::newRow("XDG_DATA_HOME") << QByteArray("unset") << QByteArray("/srv/data")
                                       << "sqlite:/srv/data/quenta/journal.sqlite";
        QTest::newRow("empty QUENTA_JOURNAL") << QByteArray("") << QByteArray("/srv/data")
                                              << "sqlite:/srv/data/quenta/journal.sqlite";
        QTest::newRow("home") << QByteArray("unset") << QByteArray("unset")
                              << "sqlite:/home/op/.local/share/quenta/journal.sqlite";
        QTest::newRow("bad QUENTA_JOURNAL")
            << QByteArray("jobs.sqlite") << QByteArray("unset")
            << "QUENTA_JOURNAL: \"jobs.sqlite\" is no journal URL: write sqlite:PATH or "
               "postgresql://USER@HOST:PORT/DB (or postgresql://USER@/DB?host=/socket/folder&"
               "port=N)";
    }

    void defaultPlace() {
        QFETCH(QByteArray, journal);
        QFETCH(QByteArray, dataHome);
        QFETCH(QString, expected);
        const QByteArray home = qgetenv("HOME");
        const auto set = [](const char *name, const QByteArray &value) {
            value == "unset" ? qunsetenv(name) : qputenv(name, value);
        };
        set("QUENTA_JOURNAL", journal);
        set("XDG_DATA_HOME", dataHome);
        qputenv("HOME", "/home/op");
        const auto place = defaultJournalPlace();
        qunsetenv("QUENTA_JOURNAL");
        qunsetenv("XDG_DATA_HOME");
        qputenv("HOME", home);
        QCOMPARE(place ? place->shown() : place.error, expected);
    }

    // Moments typed for a listing, as the journal keeps them; "none" when the text is no moment.
    void times_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("offset") << "2024-05-01T12:00:00+02:00"
                                << "2024-05-01T10:00:00.000Z";
        QTest::newRow("space, minutes, Z") << "2024-05-01 12:07Z"
                                           << "2024-05-01T12:07:00.000Z";
        QTest::newRow("milliseconds") << "2024-05-01T23:59:59.250Z"
                                      << "2024-05-01T23:59:59.250Z";
        QTest::newRow("date: local midnight")
            << "2024-05-01"
            << QDateTime(QDate(2024, 5, 1), QTime(0, 0)).toUTC().toString(Qt::ISODateWithMs);
        QTest::newRow("local time")
            << "2024-05-01T06:30"
            << QDateTime(QDate(2024, 5, 1), QTime(6, 30)).toUTC().toString(Qt::ISODateWithMs);
        QTest::newRow("no moment") << "yesterday"
                                   << "none";
        QTest::newRow("no day 32") << "2024-05-32"
                                   << "none";
    }

    void times() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const auto moment = readJournalTime(text);
        QCOMPARE(moment ? journalTime(*moment) : "none", expected);
    }

    // A new journal gets the schema; a job goes from running to its end with every column; the
    // journal opened again keeps it.
    void startAndComplete_data() { addKinds(); }

    void startAndComplete() {
        QFETCH(QString, kind);
        const QString url = freshUrl(kind);
        auto journal = open(url);
        QVERIFY(journal);
        QCOMPARE(journal->versionFound(), 0);
        {
            QSqlDatabase db = lookInto(url, "look");
            QSqlQuery version("SELECT version FROM schema", db);
            QVERIFY(version.next());
            QCOMPARE(version.value(0).toInt(), 1);
            QStringList columns;
            for (int i = 0; i < db.record("jobs").count(); ++i) {
                columns << db.record("jobs").fieldName(i);
            }
            QCOMPARE(columns.join(','),
                     "id,started,seconds,station,operator,tool,command,port,device,usb_id,"
                     "usb_serial,address,bootloader,firmware,firmware_sha256,records,series,serial,"
                     "result,exit,lines,retries,resumed,message");
            QCOMPARE(db.record("series").count(), 2);
        }
        QSqlDatabase::removeDatabase("look");

        const auto id = journal->start(fullStart());
        QVERIFY2(id, qPrintable(id.error));
        QCOMPARE(*id, 1);
        auto rows = journal->list({});
        QVERIFY2(rows, qPrintable(rows.error));
        QCOMPARE(rows->size(), 1u);
        QCOMPARE(fields(rows->front()), startFields("running"));

        JobEnd end;
        end.seconds = 12.345;
        end.bootloader = "VER=2.1";
        end.result = "no-answer";
        end.exit = 4;
        end.lines = 120;
        end.retries = 2;
        end.resumed = 1;
        end.message = "no answer after line 120";
        end.device = "/dev/ttyUSB1"; // the port came back as another device; the USB ids stay
        QCOMPARE(journal->complete(*id, end), QString());
        journal.reset();

        journal = open(url);
        QVERIFY(journal);
        QCOMPARE(journal->versionFound(), 1);
        rows = journal->list({});
        QVERIFY2(rows, qPrintable(rows.error));
        QCOMPARE(rows->size(), 1u);
        QCOMPARE(fields(rows->front()), startFields("no-answer"));
        QCOMPARE(journal->complete(99, end), "Cannot record the end of job 99 in the journal " +
                                                 journal->place().shown() + ": it holds no job 99");
    }

    void serials_data() { addKinds(); }

    void serials() {
        QFETCH(QString, kind);
        auto journal = open(freshUrl(kind));
        QVERIFY(journal);
        const auto take = [&](const QString &series, quint64 first) {
            const auto taken = journal->takeSerial(series, first);
            return taken ? QString::number(*taken) : taken.error;
        };
        const QString where = " in the journal " + journal->place().shown() + ": ";
        QCOMPARE(take("A", 1), "1");
        QCOMPARE(take("A", 1), "2");
        QCOMPARE(take("B", 100), "100");
        QCOMPARE(take("B", 50), "101");
        QCOMPARE(take("B", 500), "500");
        QCOMPARE(take("A", 1), "3");
        QCOMPARE(take("B", 1), "501");
        QCOMPARE(take("C", 9223372036854775806u), "9223372036854775806");
        QCOMPARE(take("C", 1), "Cannot take a serial number of the series \"C\"" + where +
                                   "every number up to 9223372036854775806 has been handed out");
        QCOMPARE(take("D", 9223372036854775807u),
                 "Cannot take a serial number of the series \"D\"" + where +
                     "a series starts at 9223372036854775806 at most");
        QCOMPARE(take("D", 1), "1");
    }

    void filters_data() { addKinds(); }

    void filters() {
        QFETCH(QString, kind);
        auto journal = open(freshUrl(kind));
        QVERIFY(journal);
        for (int i = 0; i < 22; ++i) {
            JobStart job;
            job.started = QDateTime(QDate(2024, 6, 1), QTime(8, i), Qt::UTC);
            job.station = i % 2 == 0 ? "a" : "b";
            job.serial = 1000 + i;
            job.firmwareSha256 = i < 11 ? kShaA : kShaB;
            const auto id = journal->start(job);
            QVERIFY2(id, qPrintable(id.error));
            JobEnd end;
            end.result = i % 3 == 0 ? "ok" : "no-answer";
            QCOMPARE(journal->complete(*id, end), QString());
        }
        const auto ids = [&](const JobFilter &filter) {
            const auto rows = journal->list(filter);
            Ids found;
            for (const JobRow &row : rows.value.value_or(std::vector<JobRow>{})) {
                found << row.id;
            }
            return found;
        };
        JobFilter filter;
        QCOMPARE(ids(filter),
                 (Ids{22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3}));
        filter.limit = 0;
        QCOMPARE(ids(filter).size(), 22);
        filter.limit = 3;
        QCOMPARE(ids(filter), (Ids{22, 21, 20}));
        filter = {};
        filter.since = QDateTime(QDate(2024, 6, 1), QTime(10, 20), QTimeZone(7200));
        QCOMPARE(ids(filter), (Ids{22, 21}));
        filter = {};
        filter.result = "ok";
        QCOMPARE(ids(filter), (Ids{22, 19, 16, 13, 10, 7, 4, 1}));
        filter.station = "b";
        QCOMPARE(ids(filter), (Ids{22, 16, 10, 4}));
        filter = {};
        filter.serial = 1005;
        QCOMPARE(ids(filter), (Ids{6}));
        filter = {};
        filter.firmwareSha256 = kShaB.toUpper();
        filter.station = "a";
        QCOMPARE(ids(filter), (Ids{21, 19, 17, 15, 13}));
    }

    // Eight programs at once on one journal: every row is there, and the numbers are unique and
    // without gaps.
    void manyPrograms_data() { addKinds(); }

    void manyPrograms() {
        QFETCH(QString, kind);
        constexpr int kPrograms = 8;
        constexpr int kEach = 25;
        const QString url = freshUrl(kind);
        std::vector<std::unique_ptr<QProcess>> programs;
        for (int i = 0; i < kPrograms; ++i) {
            programs.push_back(std::make_unique<QProcess>());
            programs.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            programs.back()->start(QUENTA_JOURNAL_WORKER,
                                   {url, QString::number(kEach), QString("station%1").arg(i)});
        }
        for (auto &program : programs) {
            QVERIFY(program->waitForFinished(120000));
            QCOMPARE(program->exitCode(), 0);
        }
        auto journal = open(url);
        QVERIFY(journal);
        JobFilter all;
        all.limit = 0;
        const auto rows = journal->list(all);
        QVERIFY2(rows, qPrintable(rows.error));
        QCOMPARE(int(rows->size()), kPrograms * kEach);
        QList<quint64> serials;
        QMap<QString, int> perStation;
        for (const JobRow &row : *rows) {
            QCOMPARE(row.result, "ok");
            serials << row.serial.value_or(0);
            ++perStation[row.station];
        }
        std::sort(serials.begin(), serials.end());
        QCOMPARE(serials.front(), 1u);
        QCOMPARE(serials.back(), quint64(kPrograms * kEach));
        QVERIFY(std::adjacent_find(serials.begin(), serials.end(), [](quint64 a, quint64 b) {
                    return b != a + 1;
                }) == serials.end());
        QCOMPARE(perStation.size(), kPrograms);
        QCOMPARE(perStation.values(), QList<int>(kPrograms, kEach));
    }

    void openFailures() {
        QFile plain(files_.filePath("plain.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("some notes\n");
        plain.close();
        const QString under = files_.filePath("plain.txt/sub/journal.sqlite");
        auto journal = Journal::open(*readJournalPlace("sqlite:" + under));
        QCOMPARE(journal.error, "Cannot open the journal sqlite:" + under + ": the folder " +
                                    files_.filePath("plain.txt/sub") +
                                    " cannot be made (Not a directory)");

        journal = Journal::open(*readJournalPlace("sqlite:" + plain.fileName()));
        QCOMPARE(journal.error,
                 "Cannot open the journal sqlite:" + plain.fileName() + ": file is not a database");

        const QString newer = "sqlite:" + files_.filePath("newer.sqlite");
        QVERIFY(open(newer));
        {
            QSqlDatabase db = lookInto(newer, "newer");
            QVERIFY(QSqlQuery("UPDATE schema SET version = 99", db).isActive());
        }
        QSqlDatabase::removeDatabase("newer");
        journal = Journal::open(*readJournalPlace(newer));
        QCOMPARE(journal.error, "Cannot open the journal " + newer +
                                    ": its schema version is 99, newer than this program knows "
                                    "(1): use a newer version of the program");

        const QString nowhere = "postgresql://quenta@/journal?host=" + files_.path();
        journal = Journal::open(*readJournalPlace(nowhere));
        const QString expected = "Cannot open the journal " + nowhere +
                                 ": connection to server on socket \"" + files_.path() +
                                 "/.s.PGSQL.5432\" failed: No such file or directory";
        QVERIFY2(journal.error.startsWith(expected), qPrintable(journal.error));
    }

    void csv() {
        JobRow row;
        row.id = 7;
        row.started = "2024-05-01T10:34:56.789Z";
        row.seconds = 1.5;
        row.station = "bench, 2";
        row.operatorName = "ana\r";
        row.serial = 42;
        row.result = "refused";
        row.exit = 1;
        row.message = "said \"no\"\nthen stopped";
        QCOMPARE(jobsCsv({row}),
                 "id,started,seconds,station,operator,tool,command,port,device,usb_id,usb_serial,"
                 "address,bootloader,firmware,firmware_sha256,records,series,serial,result,exit,"
                 "lines,retries,resumed,message\r\n"
                 "7,2024-05-01T10:34:56.789Z,1.500,\"bench, 2\",\"ana\r\",,,,,,,,,,,,,42,refused,1,"
                 ",,,\"said \"\"no\"\"\nthen stopped\"\r\n");
    }

    void json() {
        JobRow row;
        row.id = 3;
        row.started = "2024-05-01T10:34:56.789Z";
        row.seconds = 1.5;
        row.serial = 9007199254740993u; // not a double
        const QJsonArray array = QJsonDocument::fromJson(jobsJson({row})).array();
        QCOMPARE(array.size(), 1);
        const QJsonObject object = array[0].toObject();
        QCOMPARE(object.size(), 24);
        QCOMPARE(object["id"].toInteger(), 3);
        QCOMPARE(object["started"].toString(), "2024-05-01T10:34:56.789Z");
        QCOMPARE(object["seconds"].toDouble(), 1.5);
        QCOMPARE(object["serial"].toInteger(), 9007199254740993);
        QVERIFY(object["message"].isNull());
        QVERIFY(object["exit"].isNull());
    }

    // Texts too long for their columns are cut; no line is longer than 100 characters.
    void table() {
        JobRow full;
        full.id = 12345678;
        full.started = "2024-05-01T10:34:56.789Z";
        full.station = "assembly-line-7";
        full.port = "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0";
        full.address = 17;
        full.firmware = "fw/release/blink-controller-v2.hex";
        full.serial = 9223372036854775806u;
        full.result = "port-error";
        full.seconds = 1234.56;
        JobRow running;
        running.id = 3;
        running.started = "2024-05-01T10:35:00.000Z";
        running.station = "s1";
        running.port = "/dev/ttyS0";
        running.firmware = "a.hex";
        running.result = "running";
        QCOMPARE(jobTable({full, running}),
                 "     id started             station    port           firmware       "
                 "      serial result     seconds\n"
                 "…345678 2024-05-01 10:34:56 assembly-… …if00-port0:17 …roller-v2.hex "
                 "…36854775806 port-error  1234.6\n"
                 "      3 2024-05-01 10:35:00 s1         /dev/ttyS0     a.hex          "
                 "             running\n");
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
