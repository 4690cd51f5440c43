// quenta-flash and its journal: the flasher runs as a child process against simulated boards
// served by this process, on a real SQLite file and on a real PostgreSQL server started for the
// test, several flashers at once; what was recorded is read back through its log command.
#include "BoardImage.h"
#include "Flasher.h"
#include "JournalKinds.h"

#include <QSysInfo>
#include <QTest>

#include <csignal>
#include <memory>
#include <pwd.h>

using namespace quenta::testing;

namespace {

const QString kSpanSha =
    QStringLiteral("9962e42b5a83b4c193ac75c777813923b2b87ddfaf4b2fd4346a99c709c64b08");

// The jobs of a journal, newest first, as its log command gives them.
QJsonArray rows(const QStringList &journal) {
    const FlasherRun log = runFlasher(journal + QStringList{"log", "--json", "--limit", "0"});
    if (log.exit != 0) {
        qWarning() << log.err;
    }
    return log.rows();
}

// The jobs of a journal, each as its serial number and its result, by serial number.
QStringList numbered(const QStringList &journal) {
    QStringList seen = lines(rows(journal), {"serial", "result"});
    std::sort(seen.begin(), seen.end(), [](const QString &a, const QString &b) {
        return a.section('|', 0, 0).toLongLong() < b.section('|', 0, 0).toLongLong();
    });
    return seen;
}

// A board's memory as the file puts it there, with these bytes from `address` on.
simboard::Memory withBytes(const QString &file, quint32 address, const QByteArray &bytes) {
    simboard::Memory image = imageOf(file);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        image[address + static_cast<quint32>(i)] = static_cast<std::uint8_t>(bytes[i]);
    }
    return image;
}

// A recipe of samples/blink.hex in `line` beside a copy of `firmware` that it names blink.hex,
// followed by `rest`: its path, or empty.
QString blinkRecipe(const QTemporaryDir &line, const QString &rest,
                    const QString &firmware = kBlinkHex) {
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

    // The station's own journal: a flash that went well (reported with --json-lines: start,
    // progress..., board, end, each line a JSON object) and one whose port is missing are rows
    // with every column, read back by log as JSON, CSV and a table, each naming the journal.
    void defaultJournal() {
        LinkedBoard board(pacedAt(115200));
        const FlasherRun ok = runFlasher({"--station", "line-3", "--operator", "ana",
                                          "--json-lines", "-p", board.port(), "flash", kSpanHex});
        QCOMPARE(ok.exit, 0);
        QVERIFY(ok.out.endsWith('\n'));
        QStringList events;
        QJsonObject last;
        for (const QByteArray &line : ok.out.trimmed().split('\n')) {
            QJsonParseError error;
            last = QJsonDocument::fromJson(line, &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError, line.constData());
            QVERIFY(line.startsWith("{\"event\":\""));
            const QString event = last["event"].toString();
            if (event == "progress") {
                QCOMPARE(joined(last, {"port", "lines"}), board.port() + "|23");
                QVERIFY(last["pass"] == "download" || last["pass"] == "verify");
            }
            if (events.isEmpty() || events.last() != event) {
                events << event;
            }
        }
        QCOMPARE(events, (QStringList{"start", "progress", "board", "end"}));
        QCOMPARE(last["exit"].toInt(), 0);
        QCOMPARE(joined(last["boards"][0], {"result", "journal", "serial", "firmware_sha256"}),
                 "ok|1|null|" + kSpanSha);
        const FlasherRun missing =
            runFlasher({"-q", "--json", "-p", "/dev/quenta-none", "flash", kSpanHex});
        QCOMPARE(missing.exit, 3);
        QCOMPARE(missing.board()["journal"].toInteger(), 2);

        const QJsonArray jobs = rows({});
        QCOMPARE(jobs.size(), 2);
        QCOMPARE(joined(jobs[0],
                        {"id", "exit", "result", "device", "station", "operator", "bootloader"}),
                 "2|3|port-error|/dev/quenta-none|" + QSysInfo::machineHostName() + '|' +
                     QString::fromLocal8Bit(getpwuid(getuid())->pw_name) + "|null");
        QVERIFY2(jobs[0]["message"].toString().startsWith("There is no /dev/quenta-none."),
                 qPrintable(jobs[0]["message"].toString()));

        QJsonObject done = jobs[1].toObject();
        QVERIFY(done.take("seconds").toDouble() > 0.0);
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$")
                    .match(done.take("started").toString())
                    .hasMatch());
        const QString expected = QStringLiteral(
            R"({"id": 1, "station": "line-3", "operator": "ana", "tool": "%1", "command": "flash",
                "port": "%2", "device": "%3", "usb_id": null, "usb_serial": null, "address": null,
                "bootloader": "VER=4.1", "firmware": "%4", "firmware_sha256": "%5", "records": 23,
                "series": null, "serial": null, "result": "ok", "exit": 0, "lines": 23,
                "retries": 0, "resumed": 0, "message": "downloaded and verified", "recipe": null,
                "recipe_sha256": null, "verify_passes": 1})");
        const QString tool = runFlasher({"--version"}).out.trimmed();
        QCOMPARE(done,
                 QJsonDocument::fromJson(
                     expected.arg(tool, board.port(), board.device(), kSpanHex, kSpanSha).toUtf8())
                     .object());

        // log names the journal it reads: on standard error beside CSV and JSON, in the table's
        // first line.
        const QByteArray named =
            "journal: sqlite:" + QFile::encodeName(files_.filePath("data/quenta/journal.sqlite"));
        const FlasherRun csv = runFlasher({"log", "--csv"});
        QCOMPARE(csv.err, named + '\n');
        QCOMPARE(csv.out.count('\n'), 3);
        const QJsonArray failedOnly =
            runFlasher({"log", "--result", "port-error", "--json"}).rows();
        QCOMPARE(failedOnly.size(), 1);
        QCOMPARE(failedOnly[0]["id"].toInteger(), 2);
        const QList<QByteArray> table = runFlasher({"log"}).out.split('\n');
        QCOMPARE(table.size(), 5);
        QCOMPARE(table[0], named);
        const FlasherRun unknown = runFlasher({"log", "--serial", "1042"});
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
        const QStringList journal = freshJournal(kind);
        const QStringList stamping =
            journal + QStringList{"--serial-at",     "0x7F00", "--serial-bytes", "2",
                                  "--serial-format", "be",     "--json"};
        std::vector<std::unique_ptr<LinkedBoard>> boards;
        std::vector<std::unique_ptr<QProcess>> flashers;
        for (int i = 0; i < 8; ++i) {
            boards.push_back(std::make_unique<LinkedBoard>());
            flashers.push_back(std::make_unique<QProcess>());
            startFlasher(*flashers.back(), stamping + QStringList{"-q", "-p", boards.back()->port(),
                                                                  "flash", kBlinkHex});
        }
        QList<qint64> serials;
        for (std::size_t i = 0; i < flashers.size(); ++i) {
            const FlasherRun run = finished(*flashers[i]);
            QVERIFY2(run.exit == 0, run.err.constData());
            const qint64 serial = run.board()["serial"].toInteger();
            serials << serial;
            const char bytes[] = {static_cast<char>(serial >> 8), static_cast<char>(serial)};
            QCOMPARE(boards[i]->memory(), withBytes(kBlinkHex, 0x7F00, QByteArray(bytes, 2)));
        }
        std::sort(serials.begin(), serials.end());
        QCOMPARE(serials, (QList<qint64>{1, 2, 3, 4, 5, 6, 7, 8}));
        LinkedBoard slow(pacedAt(9600));
        QProcess killed;
        QVERIFY(startedOn(killed, slow,
                          stamping + QStringList{"-q", "-p", slow.port(), "flash", kBlinkHex}));
        ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
        QVERIFY(killed.waitForFinished(kFlasherGuardMs));
        LinkedBoard next;
        const FlasherRun after =
            runFlasher(stamping + QStringList{"-q", "-p", next.port(), "flash", kBlinkHex});
        QCOMPARE(after.board()["serial"].toInteger(), 10);
        QCOMPARE(numbered(journal), (QStringList{"1|ok", "2|ok", "3|ok", "4|ok", "5|ok", "6|ok",
                                                 "7|ok", "8|ok", "9|running", "10|ok"}));
    }

    // The board holds the file with its number at the address, little-endian in 4 bytes unless
    // told otherwise, here inside the file's records and across a 64 KiB boundary.
    void stamped() {
        LinkedBoard board;
        const FlasherRun run =
            runFlasher(freshJournal("sqlite") + QStringList{"--serial-at", "0xFFFE",
                                                            "--serial-start", "168496141", "-q",
                                                            "-p", board.port(), "flash", kSpanHex});
        QVERIFY2(run.exit == 0, run.err.constData());
        QCOMPARE(board.memory(), withBytes(kSpanHex, 0xFFFE, QByteArray::fromHex("0d0c0b0a")));
    }

    // A series whose next number outgrows its bytes, or whose last number is handed out: the next
    // board is refused before anything is written, takes no number, and its row says why.
    void numberRefused_data() {
        QTest::addColumn<QString>("bytes");
        QTest::addColumn<QString>("first"); // the series' start, the number of the first board
        QTest::newRow("outgrows its bytes") << QString("1") << QString("255");
        QTest::newRow("series used up") << QString("8") << QString("9223372036854775806");
    }

    void numberRefused() {
        QFETCH(QString, bytes);
        QFETCH(QString, first);
        const QStringList journal = freshJournal("sqlite");
        const QStringList options =
            journal + QStringList{"--serial-at", "0x100", "--serial-bytes", bytes, "--serial-start",
                                  first,         "-q",    "--json",         "-p"};
        LinkedBoard one;
        const FlasherRun last = runFlasher(options + QStringList{one.port(), "flash", kBlinkHex});
        QCOMPARE(last.exit, 0);
        QCOMPARE(QString::number(last.board()["serial"].toInteger()), first);
        LinkedBoard two;
        const FlasherRun refused =
            runFlasher(options + QStringList{two.port(), "flash", kBlinkHex});
        QCOMPARE(refused.exit, 2);
        QCOMPARE(joined(refused.board(), {"result", "message"}),
                 QStringLiteral("bad-file|the series \"default\" is used up for %1 bytes: every "
                                "number up to %2 has been handed out; nothing was written")
                     .arg(bytes, first));
        QCOMPARE(two.memory(), simboard::Memory{});
        const QJsonArray jobs = rows(journal);
        QCOMPARE(jobs.size(), 2);
        QCOMPARE(joined(jobs[0], {"result", "exit", "serial"}), "bad-file|2|null");
    }

    // Nothing is sent; the report says why, and standard error alone holds the error.
    void journalCannotBeOpened() {
        QFile plain(files_.filePath("plain.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        LinkedBoard board;
        const QStringList install{"-J", "sqlite:" + files_.filePath("plain.txt/j.sqlite"), "-p",
                                  board.port(), "install"};
        const FlasherRun run = runFlasher(install + QStringList{"--json"});
        QCOMPARE(run.exit, 6);
        QVERIFY2(run.err.contains("Cannot open the journal sqlite:"), run.err.constData());
        QVERIFY(run.report()["message"].toString().endsWith("nothing was sent"));
        const FlasherRun text = runFlasher(install);
        QCOMPARE(text.exit, 6);
        QCOMPARE(text.out, QByteArray());
        QVERIFY2(text.err.contains("Cannot open the journal sqlite:"), text.err.constData());
        QVERIFY(board.commands().empty());
    }

    // log and serve only read: a journal on storage they may not write is listed, and a journal
    // that is not there is refused without a file or a folder being made. As root, they run as
    // nobody, for whom the folder is read only.
    void logOnlyReads_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("made");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("said");
        QTest::newRow("read-only folder") << "log --csv" << true << 0 << "";
        QTest::newRow("no journal") << "log --csv" << false << 6 << "there is no journal here yet";
        QTest::newRow("serve, no journal")
            << "serve" << false << 6
            << "there is no journal here yet: the first job that quenta-flash records";
    }

    void logOnlyReads() {
        QFETCH(QString, command);
        QFETCH(bool, made);
        QFETCH(int, exit);
        QFETCH(QString, said);
        const auto readable =
            QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
        QTemporaryDir shelf(QDir::tempPath() + "/quenta-shelf-XXXXXX");
        QVERIFY(QFile::setPermissions(shelf.path(), readable | QFile::WriteOwner));
        const QString folder = shelf.filePath("line");
        const QString journal = "sqlite:" + folder + "/journal.sqlite";
        if (made) {
            QCOMPARE(runFlasher({"-J", journal, "--station", "line-3", "-q", "-p",
                                 "/dev/quenta-none", "install"})
                         .exit,
                     3);
            QVERIFY(QFile::setPermissions(journal.mid(7), QFile::ReadOwner | QFile::ReadOther));
            QVERIFY(QFile::setPermissions(folder, readable));
        }
        const QStringList before = QDir(shelf.path()).entryList(QDir::AllEntries | QDir::System);
        const FlasherRun run = runFlasher(QStringList{"-J", journal} + command.split(' '), true);
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
        LinkedBoard board(pacedAt(9600));
        QProcess process;
        QVERIFY(startedOn(process, board,
                          journal +
                              QStringList{"-q", "--json", "-p", board.port(), "flash", kSpanHex}));
        for (const char *suffix : {"", "-wal", "-shm"}) {
            QFile::remove(journal[1].mid(7) + suffix);
        }
        const FlasherRun run = finished(process);
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
        LinkedBoard board(pacedAt(9600));
        QProcess pipeline;
        pipeline.start("bash",
                       QStringList{"-c",
                                   "\"$0\" \"$@\" | head -n 1 >/dev/null; "
                                   "exit ${PIPESTATUS[0]}",
                                   QUENTA_FLASH} +
                           journal +
                           QStringList{"--json-lines", "-p", board.port(), "flash", kSpanHex});
        QCOMPARE(finished(pipeline).exit, 6);
        QCOMPARE(lines(rows(journal), {"result", "exit"}), QStringList{"ok|6"});
    }

    // The line's server restarted while two boards of a bus are flashed: the journal connects
    // again, both rows are completed, and no number is given twice.
    void postgresRestarted() {
        QUENTA_REQUIRE_POSTGRES(*postgres_);
        const QStringList journal = freshJournal("postgresql");
        LinkedBoard bus({{{true, 3, "4.1", {}}, {true, 7, "4.1", {}}}, {.baud = 9600}, {}});
        QProcess process;
        QVERIFY(startedOn(process, bus,
                          journal + QStringList{"--serial-at", "0x7F00", "-q", "--json", "-m", "-a",
                                                "3,7", "-p", bus.port(), "flash", kSpanHex}));
        QVERIFY2(postgres_->restart(), qPrintable(postgres_->problem()));
        const FlasherRun run = finished(process);
        QVERIFY2(run.exit == 0, run.out.constData());
        QCOMPARE(numbered(journal), (QStringList{"1|ok", "2|ok"}));
    }

    // A station that follows a recipe: the board is numbered into the recipe's journal, and its row
    // names the recipe; log --recipe reads it back. Another board, another firmware and a pinned
    // option given on the command line are each refused before a line is written, and a board that
    // was not written, or never answered, takes no number.
    void recipes_data() {
        // "version=V": the board's; "firmware": another file; "silent": a board that never answers
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
        QTest::newRow("another firmware") << "firmware" << QStringList{} << 2 << "bad-file"
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
        const QString recipe = blinkRecipe(
            line,
            "\n[board]\nversion = 'VER=4\\.[0-9]+'\n\n[link]\nwait = 0.5\n\n[serial]\nat = 0x7F00\n"
            "bytes = 2\nformat = \"be\"\nstart = 40\n\n[journal]\nurl = \"sqlite:journal.sqlite\"\n"
            "station = \"line-2\"\n",
            setup == "firmware" ? kSpanHex : kBlinkHex);
        simboard::BootloaderOptions boardOptions;
        if (setup.startsWith("version=")) {
            boardOptions.version = setup.mid(8).toStdString();
        }
        LinkedBoard board({{boardOptions}, {.silent = setup == "silent"}, {}});
        const FlasherRun run = runFlasher(QStringList{"--recipe", recipe, "--json", "-q", "-p",
                                                      board.port(), "--operator", "ana"} +
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
        // The series hands out a number only to a board that is written.
        const QString serial = result == "ok" ? "40" : "null";
        QCOMPARE(joined(run.board(), {"result", "serial"}), result + '|' + serial);
        QCOMPARE(
            lines(jobs, {"result", "serial", "recipe", "recipe_sha256", "station"}),
            QStringList{
                result + '|' + serial +
                "|Blink "
                "2.3|e0e29874ebfacf9ab92f5bdf4e83f39ee9634c6185619768bb2e3d73dd23810d|line-2"});
        const QByteArray series = runFlasher({"--recipe", recipe, "check"}).out;
        QVERIFY2(series.contains(result == "ok" ? "hands out 41 next" : "starting at 40"),
                 series.constData());
        QCOMPARE(board.memory(), result == "ok"
                                     ? withBytes(kBlinkHex, 0x7F00, QByteArray("\0\x28", 2))
                                     : simboard::Memory{});
        if (result == "wrong-board") {
            QCOMPARE(jobs[0]["bootloader"].toString(), "VER=5.0");
        }
        QCOMPARE(board.commands().empty(), result == "bad-file");
    }

    // A recipe checked without a board (@: its folder): what it pins, its firmware, its journal
    // and its series.
    void recipeCheck() {
        QTemporaryDir line;
        const QString r = blinkRecipe(line, "[link]\nbaud = 19200\n[serial]\nat = 256\n"
                                            "series = \"blink\"\n[journal]\nurl = "
                                            "\"sqlite:journal.sqlite\"\n");
        const FlasherRun run = runFlasher({"--recipe", r, "check"});
        QCOMPARE(run.exit, 0);
        QCOMPARE(QString::fromUtf8(run.out),
                 QString("recipe: Blink 2.3 (@/blink.toml)\n  name = Blink 2.3\n  firmware.file = "
                         "@/blink.hex\n  firmware.sha256 = 0c38529d25fddb11a23ec18c37a61e14e3375db7"
                         "41868d588536de1a21f998c6\n  link.baud = 19200\n  journal.url = sqlite:@/"
                         "journal.sqlite\n  serial.at = 0x100\n  serial.series = blink\nok   "
                         "@/blink.toml firmware: @/blink.hex holds 8 records and is the one "
                         "pinned\nok   @/blink.toml journal: sqlite:@/journal.sqlite opens\nok   "
                         "@/blink.toml series: the series \"blink\" will be made at the first "
                         "flash, starting at 1\n")
                     .replace('@', line.path()));
    }
};

QTEST_GUILESS_MAIN(FlashJournal)
#include "tst_journal.moc"
