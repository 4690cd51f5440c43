// The journal of board jobs on a real SQLite file and on a real PostgreSQL server started for the
// test, with several programs at once; and the listing's three forms.
#include "JournalKinds.h"
#include "io/journal/Journal.h"
#include "io/journal/JournalFormat.h"
#include "io/journal/JournalPlace.h"
#include "io/journal/JournalTime.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QTest>
#include <QTimeZone>

#include <csignal>

using namespace quenta;
using namespace quenta::testing;

namespace {

const QString kShaA = QString(64, u'a'); // lower-case hexadecimal, as kept
const QString kExpected = "write sqlite:PATH or postgresql://USER@HOST:PORT/DB (or "
                          "postgresql://USER@/DB?host=/socket/folder&port=N)";

// A listing as CSV, or why there is none.
QString csv(const JournalResult<std::vector<JobRow>> &rows) {
    return rows ? QString::fromUtf8(jobsCsv(*rows)) : rows.error;
}

// A row as listed, with these columns and the others empty.
JobRow listed(qint64 id, const QString &started, const QString &station, const QString &command,
              const QString &port, const QString &firmware, const QString &result) {
    JobRow row;
    row.id = id;
    row.started = started;
    row.station = station;
    row.command = command;
    row.port = port;
    row.firmware = firmware;
    row.result = result;
    return row;
}

// The processes whose command line names `path`.
QStringList processesNaming(const QString &path) {
    QStringList found;
    const QDir proc("/proc");
    for (const QString &pid : proc.entryList(QDir::Dirs)) {
        QFile cmdline(proc.filePath(pid + "/cmdline"));
        if (pid.toInt() > 0 && cmdline.open(QIODevice::ReadOnly) &&
            cmdline.readAll().replace('\0', ' ').contains(path.toLocal8Bit())) {
            found << pid;
        }
    }
    return found;
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

    QTemporaryDir files_;
    std::unique_ptr<PostgresServer> postgres_;

    QString freshUrl(const QString &kind) { return freshJournalUrl(kind, files_, *postgres_); }

    static QString openError(const QString &url) {
        return Journal::open(*readJournalPlace(url)).error;
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
    // A home folder of the test's own, which a journal URL's ~/ names.
    void initTestCase() {
        QVERIFY(files_.isValid());
        qputenv("HOME", "/home/op");
        postgres_ = std::make_unique<PostgresServer>();
    }

    void init() { QUENTA_REQUIRE_POSTGRES_IN_ROW(*postgres_); }

    // Each place as kind|path|user|password|host|port|database, and as shown; or the error.
    void places_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");
        // An expected text begun by ": " is the error, after ""URL" is no journal URL".
        const auto row = [](const char *name, const QString &url, const QString &expected) {
            QTest::newRow(name) << url
                                << (expected.startsWith(": ")
                                        ? '"' + url + "\" is no journal URL" + expected
                                        : expected);
        };
        row("sqlite cleaned", "sqlite:/var/lib/../j.sqlite",
            "sqlite|/var/j.sqlite||||0| sqlite:/var/j.sqlite");
        row("tcp", "postgresql://quenta@db.line:5433/jobs",
            "postgresql||quenta||db.line|5433|jobs postgresql://quenta@db.line:5433/jobs");
        row("password not shown", "postgres://op:s%40cret@db/jobs",
            "postgresql||op|s@cret|db|0|jobs postgresql://op@db/jobs");
        row("socket", "postgresql://quenta@/jobs?host=%2Frun%2Fpg&port=5999",
            "postgresql||quenta||/run/pg|5999|jobs "
            "postgresql://quenta@/jobs?host=/run/pg&port=5999");
        row("sqlite in the home folder", "sqlite:~/line/j.sqlite",
            "sqlite|/home/op/line/j.sqlite||||0| sqlite:/home/op/line/j.sqlite");
        row("sqlite without file", "sqlite:", ": it names no file; write sqlite:PATH");
        row("sqlite, a name begun by a colon", "sqlite::j.sqlite",
            ": a name that begins with \":\" is no file; write sqlite:PATH");
        row("sqlite in another user's home", "sqlite:~op/j.sqlite",
            ": only ~/ is taken for the home folder; write the full path");
        row("no database", "postgresql://db:5432/",
            ": it names no database after the host; " + kExpected);
        row("bad port", "postgresql://quenta@/jobs?port=70000",
            ": the port \"70000\" is no number from 1 to 65535");
        row("unknown parameter", "postgresql://db/jobs?sslmode=require",
            ": the parameter \"sslmode\" is not understood (only host and port are)");
    }

    void places() {
        QFETCH(QString, url);
        QFETCH(QString, expected);
        const auto p = readJournalPlace(url);
        const QString actual =
            p ? QString("%1|%2|%3|%4|%5|%6|%7 %8")
                    .arg(QString(p->kind == JournalPlace::Kind::Sqlite ? "sqlite" : "postgresql"),
                         p->path, p->user, p->password, p->host, QString::number(p->port),
                         p->database, p->shown())
              : p.error;
        QCOMPARE(actual, expected);
    }

    // QUENTA_JOURNAL, else the data folder (XDG_DATA_HOME, else the home's); "unset": not set.
    void defaultPlace_data() {
        QTest::addColumn<QByteArray>("journal");
        QTest::addColumn<QByteArray>("dataHome");
        QTest::addColumn<QString>("expected");
        QTest::newRow("QUENTA_JOURNAL first")
            << QByteArray("postgresql://op@/line?host=/run/pg") << QByteArray("/srv/data")
            << "postgresql://op@/line?host=/run/pg";
        QTest::newRow("empty QUENTA_JOURNAL") << QByteArray("") << QByteArray("/srv/data")
                                              << "sqlite:/srv/data/quenta/journal.sqlite";
        QTest::newRow("home") << QByteArray("unset") << QByteArray("unset")
                              << "sqlite:/home/op/.local/share/quenta/journal.sqlite";
        QTest::newRow("bad QUENTA_JOURNAL")
            << QByteArray("jobs.sqlite") << QByteArray("unset")
            << "QUENTA_JOURNAL: \"jobs.sqlite\" is no journal URL: " + kExpected;
    }

    void defaultPlace() {
        QFETCH(QByteArray, journal);
        QFETCH(QByteArray, dataHome);
        QFETCH(QString, expected);
        const auto set = [](const char *name, const QByteArray &value) {
            value == "unset" ? qunsetenv(name) : qputenv(name, value);
        };
        set("QUENTA_JOURNAL", journal);
        set("XDG_DATA_HOME", dataHome);
        const auto place = defaultJournalPlace();
        QCOMPARE(place ? place->shown() : place.error, expected);
    }

    // Moments typed for a listing, as the journal keeps them; "none" when the text is no moment.
    void times() {
        const QString localMidnight =
            QDateTime(QDate(2024, 5, 1), QTime(0, 0)).toUTC().toString(Qt::ISODateWithMs);
        const std::pair<QString, QString> moments[] = {
            {"2024-05-01T12:00:00.250+02:00", "2024-05-01T10:00:00.250Z"},
            {"2024-05-01 12:07Z", "2024-05-01T12:07:00.000Z"},
            {"2024-05-01", localMidnight},
            {"2024-05-32", "none"}};
        for (const auto &[text, expected] : moments) {
            const auto moment = readJournalTime(text);
            QCOMPARE(moment ? journalTime(*moment) : "none", expected);
        }
    }

    // A new journal gets the schema; a job goes from running to its end with every column; the
    // journal opened again keeps it. Read back as CSV, whose fields with a comma, a quote, a
    // carriage return or a line feed are quoted.
    void startAndComplete_data() { addJournalKinds(); }

    void startAndComplete() {
        QFETCH(QString, kind);
        const QString url = freshUrl(kind);
        auto journal = open(url);
        QVERIFY(journal);
        QCOMPARE(journal->versionFound(), 0);
        const QSqlRecord jobs = lookInto(url, [](QSqlDatabase &db) { return db.record("jobs"); });
        QStringList columns;
        for (int i = 0; i < jobs.count(); ++i) {
            columns << jobs.fieldName(i);
        }
        QCOMPARE(columns.join(','), kJobColumns);

        // Every column, in the order of JobStart and JobEnd.
        const QString port = "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0";
        const QDateTime started(QDate(2024, 5, 1), QTime(12, 34, 56, 789), QTimeZone(7200));
        // clang-format off
        const JobStart job{started, "bench, 2", "ana", "quenta-flash 4.1.0", "flash", port,
                           "/dev/ttyUSB0", "0403:6001", "A50285BI", 17, "fw/blink.hex",
                           kShaA.toUpper(), 123, "line", 9223372036854775806u, {}, {}};
        // clang-format on
        const auto id = journal->start(job);
        QVERIFY2(id, qPrintable(id.error));
        QCOMPARE(*id, 1);
        QVERIFY(csv(journal->list({})).endsWith(",9223372036854775806,running,,,,,,,,\r\n"));
        // The port came back as another device; the USB ids stay.
        // clang-format off
        const JobEnd end{12.5, "VER=2.1\r", "no-answer", 4, 120, 2, 1, 2,
                         "said \"no\"\nthen stopped", "/dev/ttyUSB1", {}, {}};
        // clang-format on
        QCOMPARE(journal->complete(*id, end), QString());
        journal = open(url);
        QVERIFY(journal);
        QCOMPARE(journal->versionFound(), 4);
        QCOMPARE(
            csv(journal->list({})),
            kJobColumns +
                "\r\n1,2024-05-01T10:34:56.789Z,12.500,\"bench, 2\",ana,quenta-flash 4.1.0,flash," +
                port + ",/dev/ttyUSB1,0403:6001,A50285BI,17,\"VER=2.1\r\",fw/blink.hex," + kShaA +
                ",123,line,9223372036854775806,no-answer,4,120,2,1,\"said \"\"no\"\"\nthen "
                "stopped\",,,2\r\n");
        QCOMPARE(journal->complete(99, end), "Cannot record the end of job 99 in the journal " +
                                                 journal->place().shown() + ": it holds no job 99");
    }

    void serials_data() { addJournalKinds(); }

    void serials() {
        QFETCH(QString, kind);
        auto journal = open(freshUrl(kind));
        QVERIFY(journal);
        const auto take = [&](const QString &series, quint64 first, std::optional<qint64> job = {},
                              quint64 largest = kLargestSerialNumber) {
            const auto taken = journal->takeSerial(series, first, job, largest);
            return !taken ? taken.error : *taken ? QString::number(**taken) : "used up";
        };
        QCOMPARE((QStringList{take("A", 1), take("A", 1), take("B", 100), take("B", 50),
                              take("B", 500), take("A", 1), take("C", 9223372036854775806u)}),
                 (QStringList{"1", "2", "100", "101", "500", "3", "9223372036854775806"}));
        const QString where = " in the journal " + journal->place().shown() + ": ";
        QCOMPARE(take("C", 1), "used up");
        QCOMPARE(take("D", 9223372036854775807u),
                 "Cannot take a serial number of the series \"D\"" + where +
                     "a series starts at 9223372036854775806 at most");
        QCOMPARE(take("D", 1), "1");

        // A job's number is written into its row; a job that holds one keeps it; a number above
        // the largest asked for is not handed out.
        const auto id = journal->start({});
        QVERIFY2(id, qPrintable(id.error));
        QCOMPARE((QStringList{take("E", 7, *id, 6), take("E", 7, *id, 255), take("E", 7, *id),
                              take("E", 1)}),
                 (QStringList{"used up", "7", "7", "8"}));
        const auto rows = journal->list({});
        QVERIFY(rows && rows->size() == 1);
        QCOMPARE(rows->front().series + ' ' + QString::number(rows->front().serial.value_or(0)),
                 "E 7");
        QCOMPARE(take("E", 1, 99),
                 "Cannot take a serial number of the series \"E\"" + where + "it holds no job 99");
    }

    void openFailures() {
        QFile plain(files_.filePath("plain.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly) && plain.write("some notes\n") == 11);
        plain.close();
        const QString under = files_.filePath("plain.txt/sub/journal.sqlite");
        QCOMPARE(openError("sqlite:" + under),
                 "Cannot open the journal sqlite:" + under + ": the folder " +
                     files_.filePath("plain.txt/sub") + " cannot be made (Not a directory)");
        QCOMPARE(openError("sqlite:" + plain.fileName()),
                 "Cannot open the journal sqlite:" + plain.fileName() + ": file is not a database");

        const QString newer = "sqlite:" + files_.filePath("newer.sqlite");
        QVERIFY(open(newer));
        QVERIFY(alterJournal(newer, "UPDATE schema SET version = 99"));
        QCOMPARE(openError(newer), "Cannot open the journal " + newer +
                                       ": its schema version is 99, newer than this program "
                                       "knows (4): use a newer version of the program");

        const QString nowhere = "postgresql://quenta@/journal?host=" + files_.path();
        const QString error = openError(nowhere);
        QVERIFY2(error.startsWith("Cannot open the journal " + nowhere +
                                  ": connection to server on socket \"" + files_.path() +
                                  "/.s.PGSQL.5432\" failed: No such file or directory"),
                 qPrintable(error));
    }

    // A reader makes nothing and changes nothing: a journal that is not there, or whose schema is
    // not this program's, is refused with what brings it about; one that is, is listed, and a
    // write through it is refused by the database.
    void readOnly_data() { addJournalKinds(); }

    void readOnly() {
        QFETCH(QString, kind);
        const QString url = freshUrl(kind);
        const auto readerError = [&] {
            return Journal::openReadOnly(*readJournalPlace(url)).error;
        };
        const QString cannot = "Cannot open the journal " + readJournalPlace(url)->shown() + ": ";
        QCOMPARE(readerError(), cannot + "there is no journal here yet: the first job that "
                                         "quenta-flash records (flash, verify, install or "
                                         "set-address) makes it");
        if (kind == "sqlite") {
            QVERIFY(!QFile::exists(readJournalPlace(url)->path));
        } else {
            QVERIFY(
                !lookInto(url, [](QSqlDatabase &db) { return db.tables(); }).contains("schema"));
        }
        auto writer = open(url);
        QVERIFY(writer);
        JobStart job;
        job.station = "<b>line</b>";
        QVERIFY(writer->start(job));

        auto reader = Journal::openReadOnly(*readJournalPlace(url));
        QVERIFY2(reader, qPrintable(reader.error));
        QVERIFY(!(*reader)->isFrozen());
        const auto rows = (*reader)->list({});
        QVERIFY(rows && rows->size() == 1);
        QCOMPARE(rows->at(0).station, "<b>line</b>");
        QVERIFY(!(*reader)->start(job));
        QCOMPARE(writer->list({}).value->size(), 1u);
        reader.value.reset();

        QVERIFY(alterJournal(url, "UPDATE schema SET version = 1"));
        QCOMPARE(readerError(), cannot + "its schema version is 1, older than this program's (4): "
                                         "the next job that this version of quenta-flash records "
                                         "on it (flash, verify, install or set-address) brings it "
                                         "up to date");
        QVERIFY(alterJournal(url, "UPDATE schema SET version = 5"));
        QCOMPARE(readerError(), cannot + "its schema version is 5, newer than this program knows "
                                         "(4): use a newer version of the program");
    }

    // A journal of schema version 1, as quenta-flash 4.1.0 left it (tests/data/journal-v1.*: an
    // SQLite file and a PostgreSQL dump), is brought to the latest version in place: every row
    // and series is kept, the new columns are empty, and new rows follow the old ones.
    void migratesVersion1_data() { addJournalKinds(); }

    void migratesVersion1() {
        QFETCH(QString, kind);
        QString url;
        if (kind == "sqlite") {
            const QString file = files_.filePath("v1.sqlite");
            QVERIFY(QFile::copy(QStringLiteral(QUENTA_SOURCE_DIR "/tests/data/journal-v1.sqlite"),
                                file));
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
            url = "sqlite:" + file;
        } else {
            url = postgres_->createDatabase("v1");
            QVERIFY2(postgres_->load(
                         "v1", QStringLiteral(QUENTA_SOURCE_DIR "/tests/data/journal-v1.sql")),
                     qPrintable(postgres_->problem()));
        }
        auto journal = open(url);
        QVERIFY(journal);
        QCOMPARE(journal->versionFound(), 1);
        JobFilter all;
        all.limit = 0;
        const QString blink = "/work/wt-recipes/samples/blink.hex,"
                              "0c38529d25fddb11a23ec18c37a61e14e3375db741868d588536de1a21f998c6,8";
        const QString flashed = "line-1,ana,quenta-flash 4.1.0,flash,/tmp/fx/board,/dev/pts/0,,,,"
                                "VER=4.1," +
                                blink;
        const QStringList rows = csv(journal->list(all)).split("\r\n");
        QCOMPARE(rows.size(), 6);
        QCOMPARE(rows[0], kJobColumns);
        QCOMPARE(rows[1].section(',', 3), "line-2,bo,quenta-flash 4.1.0,install,"
                                          "/tmp/fx/board,/dev/pts/0,,,,VER=4.1,,,,,,ok,0,0,0,0,"
                                          "the firmware was started,,,");
        QCOMPARE(rows[2].section(',', 3),
                 "line-2,bo,quenta-flash 4.1.0,verify,/dev/quenta-none,/dev/quenta-none,,,,," +
                     blink +
                     ",,,port-error,3,8,0,0,There is no /dev/quenta-none. Ports found: "
                     "/dev/ttyS0.,,,");
        QCOMPARE(rows[3].section(',', 0, 0) + ',' + rows[3].section(',', 3),
                 "2," + flashed + ",default,40,ok,0,10,0,0,downloaded and verified,,,");
        QCOMPARE(rows[4].section(',', 0, 0) + ',' + rows[4].section(',', 3),
                 "1," + flashed + ",default,1,ok,0,10,0,0,downloaded and verified,,,");
        QCOMPARE(rows[5], QString());

        JobStart job;
        job.station = "line-1";
        const auto id = journal->start(job);
        QVERIFY2(id, qPrintable(id.error));
        QCOMPARE(*id, 5);
        const auto serial = journal->takeSerial("default");
        QCOMPARE(serial ? QString::number(serial->value_or(0)) : serial.error, "41");
        journal = open(url);
        QVERIFY(journal);
        QCOMPARE(journal->versionFound(), 4);
    }

    // The file replaced under an open journal: a row written now would be lost with the old file,
    // so nothing is written and the error says why.
    void fileReplaced() {
        const QString url = freshUrl("sqlite");
        const QString file = url.mid(7);
        auto journal = open(url);
        QVERIFY(journal);
        const auto id = journal->start({});
        QVERIFY(id);
        for (const char *suffix : {"", "-wal", "-shm"}) {
            QFile::remove(file + suffix);
        }
        const QString other = freshUrl("sqlite");
        QVERIFY(open(other));
        QVERIFY(QFile::rename(other.mid(7), file));
        JobEnd end;
        end.result = "ok";
        QCOMPARE(journal->complete(*id, end),
                 "Cannot record the end of job 1 in the journal " + url +
                     ": its file was removed or replaced while the journal was open");
        QCOMPARE(journal->takeSerial("A").error,
                 "Cannot take a serial number of the series \"A\" in the journal " + url +
                     ": its file was removed or replaced while the journal was open");
    }

    // The server a test starts goes with the test, however it ends: no server process, nothing
    // that names its folder, and no folder are left behind; also when nobody reads the program's
    // error output any more once it ended, as after ctest's time limit.
    void serverGoesWithItsOwner_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<int>("signal");
        QTest::newRow("return") << "return" << 0;
        QTest::newRow("qFatal") << "fatal" << 0;
        QTest::newRow("SIGINT") << "wait" << SIGINT;
        QTest::newRow("SIGTERM") << "wait" << SIGTERM;
        QTest::newRow("SIGKILL") << "wait" << SIGKILL;
    }

    void serverGoesWithItsOwner() {
        QFETCH(QString, way);
        QFETCH(int, signal);
        QUENTA_REQUIRE_POSTGRES(*postgres_);
        QProcess owner;
        owner.start(QUENTA_POSTGRES_OWNER, {way});
        QVERIFY(owner.waitForReadyRead(60000));
        const QString folder = QString::fromLocal8Bit(owner.readLine()).trimmed();
        QVERIFY2(folder.startsWith("/tmp/quenta-pg-"), qPrintable(folder));
        if (signal != 0) {
            QVERIFY(!processesNaming(folder).isEmpty());
            ::kill(pid_t(owner.processId()), signal);
        }
        QVERIFY(owner.waitForFinished(60000));
        const auto left = [&] {
            QStringList found = processesNaming(folder);
            if (QFileInfo::exists(folder)) {
                found << folder;
            }
            return found;
        };
        QTRY_COMPARE_WITH_TIMEOUT(left(), QStringList(), 30000);
    }

    // In CSV a cell that a spreadsheet would take for a formula is led by an apostrophe; numbers
    // are left as they are.
    void csvFormulas() {
        JobRow row = listed(7, "2024-05-01T10:34:56.789Z", "=1+2", "-y", "\tz", "a=b.hex", "ok");
        row.operatorName = "@SUM(A1)";
        row.tool = "+x";
        row.address = -1;
        row.message = "\r=w";
        QCOMPARE(QString::fromUtf8(jobsCsv({row})).section("\r\n", 1),
                 "7,2024-05-01T10:34:56.789Z,,'=1+2,'@SUM(A1),'+x,'-y,'\tz,,,,-1,,a=b.hex,,,,,ok,,,"
                 ",,\"'\r=w\",,,\r\n");
    }

    // As a table, texts too long for their columns are cut (a port in its middle, never a result)
    // and no line is longer than 100 characters; a line end in a name is shown, not obeyed. As
    // JSON, numbers are numbers, the serial number too large for a double too (every column, and
    // the empty ones as null, are the flasher's journal test's).
    void tableAndJson() {
        JobRow full = listed(12345678, "2024-05-01T10:34:56.789Z", "assembly-line-7", "set-address",
                             "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0",
                             "fw/release/blink-controller-v2.hex", "interrupted");
        full.seconds = 1234.56;
        full.address = 17;
        full.serial = 9223372036854775806u;
        const JobRow running = listed(3, "2024-05-01T10:35:00.000Z", "s1\nx", "flash", "/dev/ttyS0",
                                      "a.hex", "running");
        QCOMPARE(jobTable({full, running}),
                 "    id started             station  command     port         firmware     "
                 "serial result      seconds\n"
                 "…45678 2024-05-01 10:34:56 assembl… set-address /dev/…rt0:17 …er-v2.hex "
                 "…4775806 interrupted  1234.6\n"
                 "     3 2024-05-01 10:35:00 s1\u240Ax     flash       /dev/ttyS0   a.hex      "
                 "         running\n");

        const QJsonArray array = QJsonDocument::fromJson(jobsJson({full, running})).array();
        QCOMPARE(array.size(), 2);
        QCOMPARE(array[0]["seconds"].toDouble(), 1234.56);
        QCOMPARE(array[0]["serial"].toInteger(), 9223372036854775806);
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
