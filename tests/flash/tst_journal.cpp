// quenta-flash and its journal: the flasher runs as a child process against simulated boards
// served by this process, on a real SQLite file and on a real PostgreSQL server started for the
// test, several flashers at once; what was recorded is read back through its log command.
#include "BoardImage.h"
#include "JournalKinds.h"
#include "simboard/PtyBoard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <pwd.h>
#include <unistd.h>

using namespace quenta::testing;

namespace {

// A bound that keeps a broken program from hanging the test; never a measure of speed.
constexpr int kHangGuardMs = 120000;

const QString kSpanSha =
    QStringLiteral("9962e42b5a83b4c193ac75c777813923b2b87ddfaf4b2fd4346a99c709c64b08");

struct Run {
    int exit = -1;
    QByteArray out;
    QByteArray err;

    QJsonObject report() const { return QJsonDocument::fromJson(out).object(); }
    QJsonObject board() const { return report()[QStringLiteral("boards")][0].toObject(); }
};

void start(QProcess &process, const QStringList &arguments) {
    process.start(QStringLiteral(QUENTA_FLASH), arguments);
}

Run finished(QProcess &process) {
    if (!process.waitForFinished(kHangGuardMs)) {
        qFatal("quenta-flash did not end");
    }
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

Run flasher(const QStringList &arguments) {
    QProcess process;
    start(process, arguments);
    return finished(process);
}

// The jobs of a journal, newest first, as its log command gives them.
QJsonArray rows(const QStringList &journal) {
    const Run log = flasher(journal + QStringList{"log", "--json", "--limit", "0"});
    if (log.exit != 0) {
        qWarning() << log.err;
    }
    return QJsonDocument::fromJson(log.out).array();
}

// The jobs of a journal, newest first, each as its serial number and its result.
QStringList numbered(const QStringList &journal) {
    QStringList seen;
    for (const QJsonValue &job : rows(journal)) {
        seen
            << QStringLiteral("%1 %2").arg(job["serial"].toInteger()).arg(job["result"].toString());
    }
    return seen;
}

QString path(const std::string &text) {
    return QString::fromStdString(text);
}

// A board's memory as the file puts it there, with these bytes from `address` on.
simboard::Memory withBytes(simboard::Memory image, quint32 address, const QByteArray &bytes) {
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        image[address + static_cast<quint32>(i)] = static_cast<std::uint8_t>(bytes[i]);
    }
    return image;
}

// A recipe of samples/blink.hex in `line` beside a copy of `firmware` that it names blink.hex,
// followed by `rest`: its path, or empty.
QString blinkRecipe(const QTemporaryDir &line, const QString &rest,
                    const QString &firmware = sourcePath("samples/blink.hex")) {
    return QFile::copy(firmware, line.filePath("blink.hex"))
               ? writeRecipe(line.filePath("blink.toml"), "Blink 2.3", "blink.hex",
                             "0c38529d25fddb11a23ec18c37a61e14e3375db741868d588536de1a21f998c6",
                             rest)
               : QString();
}

} // namespace

class FlashJournal : public QObject {
    Q_OBJECT

    QTemporaryDir files_;
    std::unique_ptr<PostgresServer> postgres_;

    // A new journal of a kind ("sqlite" or "postgresql"), as the options that name it.
    QStringList freshJournal(const QString &kind) {
        return {"-J", freshJournalUrl(kind, files_, *postgres_)};
    }

private slots:
    void initTestCase() {
        QVERIFY(files_.isValid());
        qunsetenv("QUENTA_JOURNAL");
        qputenv("XDG_DATA_HOME", QFile::encodeName(files_.filePath("data")));
        postgres_ = std::make_unique<PostgresServer>();
    }

    void init() { QUENTA_REQUIRE_POSTGRES_IN_ROW(*postgres_); }

    // The station's own journal: a flash that went well and one whose port is missing are rows
    // with every column, read back by log as JSON, CSV and a table.
    void defaultJournal() {
        simboard::PtyBoard board;
        board.start();
        const QString file = sourcePath("tests/flash/span.hex");
        const Run ok = flasher({"--station", "line-3", "--operator", "ana", "-q", "--json", "-p",
                                path(board.path()), "flash", file});
        QCOMPARE(ok.exit, 0);
        QCOMPARE(ok.board()["journal"].toInteger(), 1);
        QVERIFY(ok.board()["serial"].isNull());
        QCOMPARE(ok.board()["firmware_sha256"].toString(), kSpanSha);
        QVERIFY(QFile::exists(files_.filePath("data/quenta/journal.sqlite")));

        const Run missing = flasher({"-q", "--json", "-p", "/dev/quenta-none", "flash", file});
        QCOMPARE(missing.exit, 3);
        QCOMPARE(missing.board()["journal"].toInteger(), 2);

        const QJsonArray jobs = rows({});
        QCOMPARE(jobs.size(), 2);
        const QJsonObject failed = jobs[0].toObject();
        QCOMPARE(failed["id"].toInteger(), 2);
        QCOMPARE(failed["result"].toString(), "port-error");
        QCOMPARE(failed["exit"].toInteger(), 3);
        QCOMPARE(failed["device"].toString(), "/dev/quenta-none");
        QCOMPARE(failed["station"].toString(), QSysInfo::machineHostName());
        QCOMPARE(failed["operator"].toString(),
                 QString::fromLocal8Bit(getpwuid(getuid())->pw_name));
        QVERIFY(failed["bootloader"].isNull());
        QVERIFY2(failed["message"].toString().startsWith("There is no /dev/quenta-none."),
                 qPrintable(failed["message"].toString()));

        QJsonObject done = jobs[1].toObject();
        QVERIFY(done.take("seconds").toDouble() > 0.0);
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$")
                    .match(done.take("started").toString())
                    .hasMatch());
        const QByteArray version = flasher({"--version"}).out.trimmed();
        const QString expected = QStringLiteral(
            R"({"id": 1, "station": "line-3", "operator": "ana", "tool": "%1", "command": "flash",
                "port": "%2", "device": "%3", "usb_id": null, "usb_serial": null, "address": null,
                "bootloader": "VER=4.1", "firmware": "%4", "firmware_sha256": "%5", "records": 23,
                "series": null, "serial": null, "result": "ok", "exit": 0, "lines": 23,
                "retries": 0, "resumed": 0, "message": "downloaded and verified", "recipe": null,
                "recipe_sha256": null, "verify_passes": 1})");
        QCOMPARE(done,
                 QJsonDocument::fromJson(expected
                                             .arg(QString::fromLatin1(version), path(board.path()),
                                                  path(board.devicePath()), file, kSpanSha)
                                             .toUtf8())
                     .object());

        // log names the journal it reads: on standard error beside CSV and JSON, in the table's
        // first line.
        const QByteArray named =
            "journal: sqlite:" + QFile::encodeName(files_.filePath("data/quenta/journal.sqlite"));
        const Run listed = flasher({"log", "--csv"});
        QCOMPARE(listed.err, named + '\n');
        const QList<QByteArray> csv = listed.out.split('\n');
        QCOMPARE(csv.size(), 4); // header, two rows, and nothing after the last line end
        QCOMPARE(csv[0], kJobColumns + '\r');
        QVERIFY2(csv[2].startsWith("1,") &&
                     csv[2].endsWith(",ok,0,23,0,0,downloaded and verified,,,1\r"),
                 csv[2].constData());

        const Run onlyFailed = flasher({"log", "--result", "port-error", "--json"});
        const QJsonArray failedOnly = QJsonDocument::fromJson(onlyFailed.out).array();
        QCOMPARE(failedOnly.size(), 1);
        QCOMPARE(failedOnly[0]["id"].toInteger(), 2);
        const QList<QByteArray> table = flasher({"log"}).out.split('\n');
        QCOMPARE(table.size(), 5);
        QCOMPARE(table[0], named);
        QVERIFY2(table[1].trimmed().startsWith("id started"), table[1].constData());

        const Run unknown = flasher({"log", "--serial", "1042"});
        QCOMPARE(unknown.exit, 1);
        QCOMPARE(unknown.out, QByteArray());
        QCOMPARE(unknown.err, "quenta-flash: no job in the journal " + named.mid(9) +
                                  " wrote the serial number 1042\n");
    }

    // Eight flashers at once on one journal, each numbering its board: every row is there and
    // the numbers are unique and without gaps. A flasher killed mid-flash leaves its row running
    // and its number is not given again.
    void manyAtOnce_data() { addJournalKinds(); }

    void manyAtOnce() {
        QFETCH(QString, kind);
        constexpr int kFlashers = 8;
        const QStringList journal = freshJournal(kind);
        const QString file = sourcePath("samples/blink.hex");
        const QStringList stamping{"--serial-at", "0x7F00",          "--serial-bytes",
                                   "2",           "--serial-format", "be",
                                   "-q",          "--json"};
        QTemporaryDir dir;
        std::vector<std::unique_ptr<simboard::PtyBoard>> boards;
        std::vector<std::unique_ptr<QProcess>> flashers;
        for (int i = 0; i < kFlashers; ++i) {
            boards.push_back(std::make_unique<simboard::PtyBoard>(
                simboard::Options{}, dir.filePath(QString::number(i)).toStdString()));
            boards.back()->start();
            flashers.push_back(std::make_unique<QProcess>());
            start(*flashers.back(),
                  journal + stamping +
                      QStringList{"-p", path(boards.back()->path()), "flash", file});
        }
        QList<qint64> serials;
        for (int i = 0; i < kFlashers; ++i) {
            const Run run = finished(*flashers[static_cast<std::size_t>(i)]);
            QVERIFY2(run.exit == 0, run.err.constData());
            const qint64 serial = run.board()["serial"].toInteger();
            serials << serial;
            const char bytes[] = {static_cast<char>(serial >> 8), static_cast<char>(serial)};
            QCOMPARE(boards[static_cast<std::size_t>(i)]->memory(),
                     withBytes(imageOf(file), 0x7F00, QByteArray(bytes, 2)));
        }
        std::sort(serials.begin(), serials.end());
        QCOMPARE(serials, (QList<qint64>{1, 2, 3, 4, 5, 6, 7, 8}));

        simboard::PtyBoard slow({{simboard::BootloaderOptions{}}, {.baud = 9600}, {}},
                                dir.filePath("slow").toStdString());
        slow.start();
        QProcess killed;
        start(killed, journal + stamping + QStringList{"-p", path(slow.path()), "flash", file});
        QTRY_VERIFY_WITH_TIMEOUT(slow.commands().size() >= 4, kHangGuardMs);
        ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
        QVERIFY(killed.waitForFinished(kHangGuardMs));
        simboard::PtyBoard next({}, dir.filePath("next").toStdString());
        next.start();
        const Run after =
            flasher(journal + stamping + QStringList{"-p", path(next.path()), "flash", file});
        QCOMPARE(after.exit, 0);
        QCOMPARE(after.board()["serial"].toInteger(), 10);

        QStringList seen = numbered(journal);
        std::sort(seen.begin(), seen.end(), [](const QString &a, const QString &b) {
            return a.section(' ', 0, 0).toInt() < b.section(' ', 0, 0).toInt();
        });
        QCOMPARE(seen, (QStringList{"1 ok", "2 ok", "3 ok", "4 ok", "5 ok", "6 ok", "7 ok", "8 ok",
                                    "9 running", "10 ok"}));
    }

    // The board holds the file with its number at the address, in each format: inside the file's
    // records, outside them, across a 64 KiB boundary.
    void stamped_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QByteArray>("bytes"); // hexadecimal
        QTest::newRow("le, inside, across 64 KiB")
            << QStringList{"--serial-at", "0xFFFE", "--serial-start", "168496141"} << 0xFFFEu
            << QByteArray("0d0c0b0a");
        QTest::newRow("be, outside")
            << QStringList{"--serial-at",     "196608", "--serial-bytes", "3",
                           "--serial-format", "be",     "--serial-start", "1193046"}
            << 0x30000u << QByteArray("123456");
        QTest::newRow("retlw, outside, across 64 KiB")
            << QStringList{"--serial-at",     "0x2FFFE", "--serial-bytes", "2",
                           "--serial-format", "retlw",   "--serial-start", "4660"}
            << 0x2FFFEu << QByteArray("12343434");
    }

    void stamped() {
        QFETCH(QStringList, options);
        QFETCH(quint32, address);
        QFETCH(QByteArray, bytes);
        simboard::PtyBoard board;
        board.start();
        const QString file = sourcePath("tests/flash/span.hex");
        const Run run =
            flasher(freshJournal("sqlite") + options +
                    QStringList{"-q", "--json", "-p", path(board.path()), "flash", file});
        QVERIFY2(run.exit == 0, run.out.constData());
        QCOMPARE(board.memory(), withBytes(imageOf(file), address, QByteArray::fromHex(bytes)));
    }

    // A series whose next number outgrows its bytes, or whose last number is handed out: the next
    // board is refused before anything is written, takes no number, and its row says why.
    void numberRefused_data() {
        QTest::addColumn<QString>("bytes");
        QTest::addColumn<QString>("first"); // the series' start, the number of the first board
        QTest::newRow("outgrows its bytes") << "1"
                                            << "255";
        QTest::newRow("series used up") << "8"
                                        << "9223372036854775806";
    }

    void numberRefused() {
        QFETCH(QString, bytes);
        QFETCH(QString, first);
        const QStringList journal = freshJournal("sqlite");
        const QStringList options{"--serial-at", "0x100", "--serial-bytes", bytes, "--serial-start",
                                  first,         "-q",    "--json",         "-p"};
        const QString file = sourcePath("samples/blink.hex");
        simboard::PtyBoard one;
        one.start();
        const Run last = flasher(journal + options + QStringList{path(one.path()), "flash", file});
        QCOMPARE(last.exit, 0);
        QCOMPARE(QString::number(last.board()["serial"].toInteger()), first);
        simboard::PtyBoard two;
        two.start();
        const Run refused =
            flasher(journal + options + QStringList{path(two.path()), "flash", file});
        QCOMPARE(refused.exit, 2);
        QCOMPARE(refused.board()["result"].toString(), "bad-file");
        QCOMPARE(refused.board()["message"].toString(),
                 QStringLiteral("the series \"default\" is used up for %1 bytes: every number up "
                                "to %2 has been handed out; nothing was written")
                     .arg(bytes, first));
        QCOMPARE(two.memory(), simboard::Memory{});
        const QJsonArray jobs = rows(journal);
        QCOMPARE(jobs.size(), 2);
        QCOMPARE(jobs[0]["result"].toString(), "bad-file");
        QCOMPARE(jobs[0]["exit"].toInteger(), 2);
        QVERIFY(jobs[0]["serial"].isNull());
    }

    void journalCannotBeOpened() {
        QFile plain(files_.filePath("plain.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        simboard::PtyBoard board;
        board.start();
        const QStringList install{"-J", "sqlite:" + files_.filePath("plain.txt/j.sqlite"), "-p",
                                  path(board.path()), "install"};
        const Run run = flasher(install + QStringList{"--json"});
        QCOMPARE(run.exit, 6);
        QVERIFY2(run.err.contains("Cannot open the journal sqlite:"), run.err.constData());
        QVERIFY(run.report()["message"].toString().endsWith("nothing was sent"));
        // The text report holds no error: that goes to standard error alone.
        const Run text = flasher(install);
        QCOMPARE(text.exit, 6);
        QCOMPARE(text.out, QByteArray());
        QVERIFY2(text.err.contains("Cannot open the journal sqlite:"), text.err.constData());
        QVERIFY(board.commands().empty());
    }

    // log only reads: a journal on storage it may not write is listed, and a journal that is not
    // there is refused without a file or a folder being made. As root, log runs as nobody, for
    // whom the folder is read only.
    void logOnlyReads_data() {
        QTest::addColumn<bool>("made");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("said");
        QTest::newRow("read-only folder") << true << 0 << "";
        QTest::newRow("no journal") << false << 6 << "there is no journal here yet";
    }

    void logOnlyReads() {
        QFETCH(bool, made);
        QFETCH(int, exit);
        QFETCH(QString, said);
        QTemporaryDir shelf(QDir::tempPath() + "/quenta-shelf-XXXXXX");
        QVERIFY(QFile::setPermissions(shelf.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ExeOwner | QFile::ReadOther |
                                                        QFile::ExeOther));
        const QString folder = shelf.filePath("line");
        const QString file = folder + "/journal.sqlite";
        if (made) {
            QCOMPARE(flasher({"-J", "sqlite:" + file, "--station", "line-3", "-q", "-p",
                              "/dev/quenta-none", "install"})
                         .exit,
                     3);
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadOther));
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner |
                                                      QFile::ReadOther | QFile::ExeOther));
        }
        const QStringList before = QDir(shelf.path()).entryList(QDir::AllEntries | QDir::System);
        QStringList arguments{"-J", "sqlite:" + file, "log", "--csv"};
        if (::geteuid() == 0) {
            arguments =
                QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", QUENTA_FLASH} +
                arguments;
        }
        QProcess process;
        process.start(::geteuid() == 0 ? "setpriv" : QUENTA_FLASH, arguments);
        const Run run = finished(process);
        QVERIFY2(run.exit == exit, run.err.constData());
        QVERIFY2(run.err.contains(said.toUtf8()), run.err.constData());
        QCOMPARE(run.out.isEmpty(), !made); // the refusal is not written into the CSV
        if (made) {
            QVERIFY2(run.out.split('\n')[1].contains(",line-3,"), run.out.constData());
            QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"journal.sqlite"});
        }
        QCOMPARE(QDir(shelf.path()).entryList(QDir::AllEntries | QDir::System), before);
    }

    // The journal's file removed while a board is flashed (with its -wal and -shm): the end of
    // the job cannot be written, as it would be lost with the file. The board is done; the run
    // ends with 6, and the report and standard error (even with -q) say why.
    void journalFileRemoved() {
        const QStringList journal = freshJournal("sqlite");
        const QString file = journal[1].mid(7);
        simboard::PtyBoard board({{simboard::BootloaderOptions{}}, {.baud = 9600}, {}});
        board.start();
        QProcess process;
        start(process, journal + QStringList{"-q", "--json", "-p", path(board.path()), "flash",
                                             sourcePath("tests/flash/span.hex")});
        QTRY_VERIFY_WITH_TIMEOUT(board.commands().size() >= 4, kHangGuardMs);
        for (const char *suffix : {"", "-wal", "-shm"}) {
            QFile::remove(file + suffix);
        }
        const Run run = finished(process);
        QCOMPARE(run.exit, 6);
        QCOMPARE(run.board()["result"].toString(), "ok");
        const QString said = "Cannot record the end of job 1 in the journal " + journal[1] +
                             ": its file was removed or replaced while the journal was open";
        QCOMPARE(run.report()["message"].toString(), said);
        QVERIFY2(run.err.contains(said.toUtf8()), run.err.constData());
    }

    // The reader of --json-lines goes away mid-run: the run ends with 6, and so says the row.
    void jsonLinesReaderGone() {
        const QStringList journal = freshJournal("sqlite");
        simboard::PtyBoard board({{simboard::BootloaderOptions{}}, {.baud = 9600}, {}});
        board.start();
        QProcess pipeline;
        pipeline.start("bash", QStringList{"-c",
                                           "\"$0\" \"$@\" | head -n 1 >/dev/null; "
                                           "exit ${PIPESTATUS[0]}",
                                           QUENTA_FLASH} +
                                   journal +
                                   QStringList{"--json-lines", "-p", path(board.path()), "flash",
                                               sourcePath("tests/flash/span.hex")});
        const Run run = finished(pipeline);
        QCOMPARE(run.exit, 6);
        const QJsonArray jobs = rows(journal);
        QCOMPARE(jobs.size(), 1);
        QCOMPARE(jobs[0]["result"].toString(), "ok");
        QCOMPARE(jobs[0]["exit"].toInteger(), 6);
    }

    // The line's server restarted while two boards of a bus are flashed: the journal connects
    // again, both rows are completed, and no number is given twice.
    void postgresRestarted() {
        QUENTA_REQUIRE_POSTGRES(*postgres_);
        const QStringList journal = freshJournal("postgresql");
        simboard::BootloaderOptions three{true, 3, "4.1", {}};
        simboard::BootloaderOptions seven{true, 7, "4.1", {}};
        simboard::PtyBoard bus({{three, seven}, {.baud = 9600}, {}});
        bus.start();
        const QStringList stamping{"--serial-at", "0x7F00", "--serial-bytes", "2", "-q", "--json"};
        QProcess process;
        start(process, journal + stamping +
                           QStringList{"-m", "-a", "3,7", "-p", path(bus.path()), "flash",
                                       sourcePath("tests/flash/span.hex")});
        QTRY_VERIFY_WITH_TIMEOUT(bus.commands().size() >= 4, kHangGuardMs);
        QVERIFY2(postgres_->restart(), qPrintable(postgres_->problem()));
        const Run run = finished(process);
        QVERIFY2(run.exit == 0, run.out.constData());
        QCOMPARE(numbered(journal), (QStringList{"2 ok", "1 ok"}));
    }

    // A station that follows a recipe: the board is numbered into the recipe's journal, and its row
    // names the recipe; log --recipe reads it back. Another board, another firmware and a pinned
    // option given on the command line are each refused before a line is written, and a board that
    // was not written, or never answered, takes no number.
    void recipes_data() {
        // "version=V": the board's; "firmware=F": another file; "silent": a board that never
        // answers
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("result"); // of the board and its row; none: no row
        QTest::addColumn<QString>("message");
        QTest::newRow("flashed") << "" << QStringList{} << 0 << "ok"
                                 << "downloaded and verified";
        QTest::newRow("another board")
            << "version=5.0" << QStringList{} << 1 << "wrong-board"
            << "the bootloader answered \"VER=5.0\" where \"VER=4\\.[0-9]+\" was expected: "
               "nothing was written";
        QTest::newRow("another firmware")
            << "firmware=tests/flash/span.hex" << QStringList{} << 2 << "bad-file"
            << "is not the firmware that the recipe";
        QTest::newRow("a board never reached") << "silent" << QStringList{} << 4 << "no-answer"
                                               << "check the speed";
        QTest::newRow("a pinned option given")
            << "" << QStringList{"--serial-start", "7"} << 2 << ""
            << "--serial-start cannot be given: the recipe";
    }

    void recipes() {
        QFETCH(QString, setup);
        QFETCH(QStringList, options);
        QFETCH(int, exit);
        QFETCH(QString, result);
        QFETCH(QString, message);
        QTemporaryDir line;
        const QString blink = sourcePath("samples/blink.hex");
        const QString recipe = blinkRecipe(
            line,
            "\n[board]\nversion = 'VER=4\\.[0-9]+'\n\n[link]\nwait = 0.5\n\n[serial]\nat = 0x7F00\n"
            "bytes = 2\n"
            "format = \"be\"\nstart = 40\n\n[journal]\nurl = \"sqlite:journal.sqlite\"\n"
            "station = \"line-2\"\n",
            setup.startsWith("firmware=") ? sourcePath(qPrintable(setup.mid(9))) : blink);
        simboard::BootloaderOptions boardOptions;
        if (setup.startsWith("version=")) {
            boardOptions.version = setup.mid(8).toStdString();
        }
        simboard::PtyBoard board({{boardOptions}, {.silent = setup == "silent"}, {}});
        board.start();
        const Run run = flasher(QStringList{"--recipe", recipe, "--json", "-q", "-p",
                                            path(board.path()), "--operator", "ana"} +
                                options + QStringList{"flash"});
        QCOMPARE(run.exit, exit);
        const QString said = result.isEmpty() ? run.report()["message"].toString()
                                              : run.board()["message"].toString();
        QVERIFY2(said.contains(message), qPrintable(said));
        const QJsonArray jobs = rows({"--recipe", recipe});
        if (result.isEmpty()) {
            QVERIFY(board.commands().empty());
            QVERIFY(jobs.isEmpty());
            return;
        }
        QCOMPARE(run.board()["result"].toString(), result);
        QCOMPARE(jobs.size(), 1);
        QCOMPARE(jobs[0]["result"].toString(), result);
        QCOMPARE(jobs[0]["recipe"].toString(), "Blink 2.3");
        QCOMPARE(jobs[0]["recipe_sha256"].toString(),
                 "e0e29874ebfacf9ab92f5bdf4e83f39ee9634c6185619768bb2e3d73dd23810d");
        QCOMPARE(jobs[0]["station"].toString(), "line-2");
        // The series hands out a number only to a board that is written.
        const QJsonValue serial = result == "ok" ? QJsonValue(40) : QJsonValue();
        QCOMPARE(run.board()["serial"], serial);
        QCOMPARE(jobs[0]["serial"], serial);
        const QByteArray series = flasher({"--recipe", recipe, "check"}).out;
        QVERIFY2(series.contains(result == "ok" ? "hands out 41 next" : "starting at 40"),
                 series.constData());
        if (result == "ok") {
            QCOMPARE(board.memory(), withBytes(imageOf(blink), 0x7F00, QByteArray("\0\x28", 2)));
        } else {
            QCOMPARE(board.memory(), simboard::Memory{});
        }
        if (result == "wrong-board") {
            QCOMPARE(jobs[0]["bootloader"].toString(), "VER=5.0");
        }
        if (result == "bad-file") {
            QVERIFY(board.commands().empty());
        }
    }

    // A recipe checked without a board: what it pins, its firmware, its journal and its series.
    void recipeCheck() {
        QTemporaryDir line;
        const QString r = blinkRecipe(line, "[link]\nbaud = 19200\n[serial]\nat = 256\n"
                                            "series = \"blink\"\n[journal]\nurl = "
                                            "\"sqlite:journal.sqlite\"\n");
        const Run run = flasher({"--recipe", r, "check"});
        QCOMPARE(run.exit, 0);
        QCOMPARE(QString::fromUtf8(run.out),
                 "recipe: Blink 2.3 (" + r +
                     ")\n  name = Blink 2.3\n  firmware.file = " + line.filePath("blink.hex") +
                     "\n  firmware.sha256 = "
                     "0c38529d25fddb11a23ec18c37a61e14e3375db741868d588536de1a21f998c6\n"
                     "  link.baud = 19200\n  journal.url = sqlite:" +
                     line.filePath("journal.sqlite") +
                     "\n  serial.at = 0x100\n  serial.series = blink\n"
                     "ok   " +
                     r + " firmware: " + line.filePath("blink.hex") +
                     " holds 8 records and is the one pinned\n"
                     "ok   " +
                     r + " journal: sqlite:" + line.filePath("journal.sqlite") +
                     " opens\n"
                     "ok   " +
                     r +
                     " series: the series \"blink\" will be made at the first "
                     "flash, starting at 1\n");
    }

    // One board with --json-lines: start, progress..., board, end, each line a JSON object.
    void jsonLines() {
        simboard::PtyBoard board({{simboard::BootloaderOptions{}}, {.baud = 115200}, {}});
        board.start();
        const Run run = flasher({"--no-journal", "--json-lines", "-p", path(board.path()), "flash",
                                 sourcePath("tests/flash/span.hex")});
        QCOMPARE(run.exit, 0);
        QVERIFY(run.out.endsWith('\n'));
        QStringList events;
        QJsonObject last;
        for (const QByteArray &line : run.out.trimmed().split('\n')) {
            QJsonParseError error;
            last = QJsonDocument::fromJson(line, &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError, line.constData());
            QVERIFY(line.startsWith("{\"event\":\""));
            const QString event = last["event"].toString();
            if (event == "progress") {
                QCOMPARE(last["port"].toString(), path(board.path()));
                QCOMPARE(last["lines"].toInt(), 23);
                QVERIFY(last["pass"] == "download" || last["pass"] == "verify");
            }
            if (events.isEmpty() || events.last() != event) {
                events << event;
            }
        }
        QVERIFY2(events == (QStringList{"start", "progress", "board", "end"}),
                 qPrintable(events.join(' ')));
        QCOMPARE(last["exit"].toInt(), 0);
        QCOMPARE(last["boards"][0]["result"].toString(), "ok");
    }
};

QTEST_GUILESS_MAIN(FlashJournal)
#include "tst_journal.moc"
