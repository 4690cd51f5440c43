// quenta-flash run as a child process against simulated boards served by this process. A job is
// judged by the exit status, the JSON report and what the boards' memories hold.
#include "BoardImage.h"
#include "simboard/PtyBoard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quenta::testing;

namespace {

// A bound that keeps a broken program from hanging the test; never a measure of speed.
constexpr int kHangGuardMs = 120000;

void startFlasher(QProcess &process, QStringList arguments, bool unprivileged = false) {
    arguments << QStringLiteral("--json") << QStringLiteral("-q");
    arguments.prepend(QStringLiteral(QUENTA_FLASH));
    if (unprivileged) {
        arguments = QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                QStringLiteral("--clear-groups")} +
                    arguments;
    }
    process.start(unprivileged ? QStringLiteral("setpriv") : arguments.takeFirst(), arguments);
}

struct Outcome {
    int exit = -1;
    QJsonArray boards;
    QStringList results;
    QString message; // the first board's
};

Outcome finished(QProcess &process) {
    if (!process.waitForFinished(kHangGuardMs)) {
        qFatal("quenta-flash did not end");
    }
    const QJsonDocument report = QJsonDocument::fromJson(process.readAllStandardOutput());
    Outcome outcome{process.exitCode(), report[QStringLiteral("boards")].toArray(), {}, {}};
    for (const QJsonValue &board : outcome.boards) {
        outcome.results << board[QStringLiteral("result")].toString();
    }
    outcome.message = outcome.boards.at(0)[QStringLiteral("message")].toString();
    return outcome;
}

Outcome runFlasher(const QStringList &arguments, bool unprivileged = false) {
    QProcess process;
    startFlasher(process, arguments, unprivileged);
    return finished(process);
}

// A simulated board, started, its link in a folder of its own.
struct LinkedBoard : QTemporaryDir, simboard::PtyBoard {
    explicit LinkedBoard(simboard::Options options = {})
        : simboard::PtyBoard(std::move(options), filePath(QStringLiteral("board")).toStdString()) {
        start();
    }
    using simboard::PtyBoard::path;
    QString port() const { return QString::fromStdString(path()); }
    QString device() const { return QString::fromStdString(devicePath()); }
};

QStringList words(const QString &text) {
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// "bus=3,7,12 preload split garbage bare silent crc=N drop=N back=MS lose=K withhold=N,M
// appear=MS":
// Modbus boards at these addresses (else one plain board), holding the file already, and faults.
simboard::Options boardsFor(const QString &setup, const simboard::Memory &image) {
    simboard::Options options;
    simboard::Faults &f = options.faults;
    std::map<QString, std::vector<int>> given;
    for (const QString &word : words(setup)) {
        for (const QString &value : word.section(QLatin1Char('='), 1).split(QLatin1Char(','))) {
            given[word.section(QLatin1Char('='), 0, 0)].push_back(value.toInt());
        }
    }
    const auto number = [&](const char *key, int otherwise) {
        return given.count(key) != 0 ? given[key][0] : otherwise;
    };
    f = {.splitAnswers = given.count("split") != 0,
         .garbageBefore = given.count("garbage") != 0,
         .corruptCrcEvery = static_cast<unsigned>(number("crc", 0)),
         .bareFrames = given.count("bare") != 0,
         .silent = given.count("silent") != 0,
         .appearAfterMs = number("appear", 0),
         .dropAfterLine = number("drop", 0),
         .dropForMs = number("back", -1),
         .loseRecords = number("lose", 0),
         .withhold = {given["withhold"].begin(), given["withhold"].end()}};
    if (given.count("bus") != 0) {
        options.boards.clear();
        for (const int address : given["bus"]) {
            options.boards.push_back({true, static_cast<std::uint8_t>(address), "4.1", {}});
        }
    }
    for (simboard::BootloaderOptions &board : options.boards) {
        board.memory = given.count("preload") != 0 ? image : simboard::Memory{};
    }
    return options;
}

} // namespace

class FlashProgram : public QObject {
    Q_OBJECT

    QTemporaryDir data_;

private slots:
    // The flasher keeps its journal in the test's own folder.
    void initTestCase() {
        QVERIFY(data_.isValid());
        qunsetenv("QUENTA_JOURNAL");
        qputenv("XDG_DATA_HOME", QFile::encodeName(data_.path()));
    }

    // Each row: boards (see boardsFor) | arguments (PORT: the board's link; BLINK, SPAN: the sample
    // and a file of three segments; @: a file of the tree) | exit | results | memory (image, other,
    // untouched: no command taken, any) | a part of the first board's message | its figures (now:
    // its bus address afterwards).
    void jobs_data() {
        QTest::addColumn<QString>("row");
        QTest::newRow("flash")
            << "|-p PORT flash SPAN|0|ok|image|downloaded and verified|retries=0 resumed=0";
        QTest::newRow("verify alone") << "preload|-p PORT verify BLINK|0|ok|image|verified|";
        QTest::newRow("verify mismatch") << "|-p PORT verify BLINK|1|refused|other|line 2: verify: "
                                            "the board answered \"ERROR\"|";
        QTest::newRow("no end record")
            << "|-p PORT flash @tests/flash/no-end.hex|2|bad-file|untouched|ends at line 2 without "
               "an end record|";
        QTest::newRow("split answers, noise")
            << "split garbage|-p PORT flash BLINK|0|ok|image||retries=0";
        QTest::newRow("three boards, all")
            << "bus=3,7,12|-m -a 3-12 -p PORT flash BLINK|0|ok ok ok|image||";
        QTest::newRow("scan")
            << "bus=3,7,12|-a 3-12 -p PORT scan|0|ok ok ok|other|VER=4.1|address=3";
        QTest::newRow("scan finds nobody")
            << "bus=13|-a 3-12 --wait 0.2 -p PORT scan|4|no-answer|untouched|no board answered on "
               "the addresses 3..12 at 115200 baud|";
        QTest::newRow("first address answering")
            << "bus=9|-m -p PORT flash BLINK|0|ok|image||address=9";
        QTest::newRow("noise on a bus") << "bus=4 garbage|-m -a 4 -p PORT flash BLINK|0|ok|image||";
        QTest::newRow("frames without CR LF")
            << "bus=4 bare|-m -a 4 -p PORT flash BLINK|0|ok|image||retries=0";
        QTest::newRow("every fourth answer broken: never proven")
            << "bus=4 crc=4|-m -a 4 --timeout 200 -p PORT flash BLINK|1|refused|any|the verify was "
               "disturbed 3 times|";
        QTest::newRow("drop, records lost")
            << "drop=16 back=300 lose=5|-p PORT flash SPAN|0|ok|image||resumed=1";
        QTest::newRow("port never returns") << "drop=16|--wait 0.5 -p PORT flash "
                                               "SPAN|5|port-lost|other|at line 17 of the download|";
        QTest::newRow("lost answer")
            << "withhold=3|--timeout 200 -p PORT flash BLINK|0|ok|image||retries=1";
        QTest::newRow("line never answered")
            << "withhold=3,4,5|--timeout 100 -p PORT flash BLINK|4|no-answer|other|line 2: no "
               "answer after 3 tries|retries=2";
        QTest::newRow("silent board")
            << "silent|--wait 0.5 -p PORT check|4|no-answer|any|check the speed (115200 baud)|";
        QTest::newRow("not HEX") << "|-p PORT flash @samples/blink.asm|2|bad-file|untouched|is not "
                                    "an Intel HEX file: line 1 does not start with ':'|";
        QTest::newRow("missing port")
            << "|-p /dev/quenta-none version|3|port-error|untouched|There is no /dev/quenta-none|";
        QTest::newRow("missing USB serial number")
            << "|--usb --wait 0.3 -p usb:quenta-none version|3|port-error|untouched|No USB serial "
               "port has the serial number quenta-none.|";
        QTest::newRow("not a serial port")
            << "|-p /dev/null version|3|port-error|untouched|/dev/null is not a serial port|";
        QTest::newRow("usage error") << "|-b 1200 -p PORT version|2||untouched||";
        QTest::newRow("USB board appears") << "appear=500|--usb -p PORT flash BLINK|0|ok|image||";
        QTest::newRow("USB never appears")
            << "appear=60000|--usb --wait 0.3 -p PORT version|3|port-error|untouched||";
        QTest::newRow("install") << "|-p PORT install|0|ok|any|the firmware was started|";
        QTest::newRow("check") << "|-p PORT check|0|ok|any|at 115200 baud, bootloader VER=4.1|";
        QTest::newRow("one good port, one missing: the worse counts")
            << "|-p PORT -p /dev/quenta-none flash BLINK|3|ok port-error|any||";
        QTest::newRow("one device under two names: nothing sent")
            << "|-p PORT -p DEVICE flash BLINK|2||untouched||";
        QTest::newRow("a withheld probe answer, a short wait")
            << "withhold=1|--wait 0.5 -p PORT version|0|ok|any|VER=4.1|";
        QTest::newRow("set-address") << "bus=5|-m -a 5 -p PORT set-address 9|0|ok|any||now=9";
    }

    void jobs() {
        QFETCH(QString, row);
        const QStringList column = row.split(QLatin1Char('|'));
        const QString file =
            sourcePath(column[1].contains(QLatin1String("SPAN")) ? "tests/flash/span.hex"
                                                                 : "samples/blink.hex");
        const simboard::Memory image = imageOf(file);
        LinkedBoard board(boardsFor(column[0], image));
        QStringList command;
        for (const QString &word : words(column[1])) {
            command << (word == QLatin1String("PORT")     ? board.port()
                        : word == QLatin1String("DEVICE") ? board.device()
                        : word == QLatin1String("BLINK") || word == QLatin1String("SPAN") ? file
                        : word.startsWith(QLatin1Char('@'))
                            ? sourcePath(word.mid(1).toLatin1().constData())
                            : word);
        }
        const Outcome outcome = runFlasher(command);
        QCOMPARE(outcome.exit, column[2].toInt());
        QCOMPARE(outcome.results, words(column[3]));
        const QJsonObject first = outcome.boards.at(0).toObject();
        if (column[3].isEmpty()) {
            QVERIFY(board.commands().empty());
            return;
        }
        QVERIFY2(outcome.message.contains(column[5]), qPrintable(outcome.message));
        for (const QString &count : words(column[6])) {
            const QString key = count.section(QLatin1Char('='), 0, 0);
            QCOMPARE(key == QLatin1String("now") ? board.address() : first.value(key).toInt(),
                     count.section(QLatin1Char('='), 1).toInt());
        }
        for (std::size_t b = 0; b < std::max<std::size_t>(1, outcome.boards.size()); ++b) {
            if (column[4] == QLatin1String("image") || column[4] == QLatin1String("other")) {
                QCOMPARE(board.memory(b) == image, column[4] == QLatin1String("image"));
            }
        }
        QCOMPARE(board.commands().empty(), column[4] == QLatin1String("untouched"));
    }

    void twoPortsAtOnce() {
        LinkedBoard one;
        LinkedBoard two;
        const QString file = sourcePath("tests/flash/span.hex");
        const Outcome outcome = runFlasher({"-p", one.port(), "-p", two.port(), "flash", file});
        QCOMPARE(outcome.exit, 0);
        QCOMPARE(outcome.results, QStringList({"ok", "ok"}));
        QCOMPARE(one.memory(), imageOf(file));
        QCOMPARE(two.memory(), imageOf(file));
    }

    // A second flasher finds the port in use; the first one's job goes on undisturbed.
    void busyPort() {
        LinkedBoard board({{simboard::BootloaderOptions{}}, {.withhold = {3}}, {}});
        const QString file = sourcePath("samples/blink.hex");
        QProcess holder;
        startFlasher(holder, {"--timeout", "5000", "-p", board.port(), "flash", file});
        QTRY_VERIFY_WITH_TIMEOUT(board.commands().size() >= 3, kHangGuardMs);
        const Outcome busy = runFlasher({"-p", board.port(), "check"});
        QCOMPARE(busy.exit, 3);
        QCOMPARE(busy.results, QStringList{"port-error"});
        QVERIFY2(busy.message.contains(QLatin1String("is in use by quenta-flash")),
                 qPrintable(busy.message));
        const Outcome held = finished(holder);
        QCOMPARE(held.exit, 0);
        QCOMPARE(board.memory(), imageOf(file));
    }

    // The run stops at once, reports every unfinished board and ends with 128 + the signal.
    void interrupted_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void interrupted() {
        QFETCH(int, signal);
        LinkedBoard board({{simboard::BootloaderOptions{}}, {.baud = 9600}, {}});
        QProcess flasher;
        startFlasher(flasher, {"-p", board.port(), "flash", sourcePath("tests/flash/span.hex")});
        QTRY_VERIFY_WITH_TIMEOUT(board.commands().size() >= 4, kHangGuardMs);
        ::kill(static_cast<pid_t>(flasher.processId()), signal);
        const Outcome outcome = finished(flasher);
        QCOMPARE(outcome.exit, 128 + signal);
        QCOMPARE(outcome.results, QStringList{"interrupted"});
        QVERIFY2(outcome.message.contains(QLatin1String("of the download")),
                 qPrintable(outcome.message));
        const std::size_t taken = board.commands().size();
        QTest::qWait(300);
        QCOMPARE(board.commands().size(), taken);
    }

    void reportNotWritten() {
        QProcess flasher;
        flasher.setStandardOutputFile(QStringLiteral("/dev/full"));
        flasher.start(QStringLiteral(QUENTA_FLASH), {"--json", "ports"});
        QVERIFY(flasher.waitForFinished(kHangGuardMs));
        QCOMPARE(flasher.exitCode(), 6);
        QVERIFY(flasher.readAllStandardError().contains("could not be written"));
    }

    // udev gives a USB port its group a moment after it appears: --usb waits for that too.
    void permissionComesLate() {
        LinkedBoard board;
        const QByteArray device = QFile::encodeName(board.device());
        const bool root = ::geteuid() == 0;
        QCOMPARE(::chmod(device.constData(), 0), 0);
        QProcess flasher;
        startFlasher(flasher, {"--usb", "--wait", "20", "-p", board.device(), "version"}, root);
        QTest::qWait(500);
        QCOMPARE(::chmod(device.constData(), root ? 0666 : 0600), 0);
        const Outcome outcome = finished(flasher);
        QCOMPARE(outcome.exit, 0);
        QCOMPARE(outcome.message, QStringLiteral("VER=4.1"));
    }

    // As root the flasher runs as nobody, for whom the device is of a group it is not in.
    void noPermission() {
        LinkedBoard board;
        const QByteArray device = QFile::encodeName(board.device());
        const bool root = ::geteuid() == 0;
        if (root) {
            const group *dialout = ::getgrnam("dialout");
            QVERIFY(dialout && ::chown(device.constData(), 0, dialout->gr_gid) == 0);
        }
        QCOMPARE(::chmod(device.constData(), root ? 0660 : 0), 0);
        const Outcome outcome = runFlasher({"-p", board.device(), "check"}, root);
        QCOMPARE(outcome.exit, 3);
        QCOMPARE(outcome.results, QStringList{"port-error"});
        QVERIFY2(outcome.message.contains(root ? "sudo adduser $USER dialout" : "may not use"),
                 qPrintable(outcome.message));
        QVERIFY(board.commands().empty());
    }
};

QTEST_GUILESS_MAIN(FlashProgram)
#include "tst_program.moc"
